// The match's motion as the display shows it: the ball and both paddles read
// from the page's canvas at every refresh (requestAnimationFrame), and the
// figures drawn from it. Shared by the web tests and the motion benchmark
// (tools/web_motion_benchmark.mjs).

// Samples for `ms`: each one the refresh's time and what the picture showed
// when the refresh came: the ball's top-left corner (null when the picture
// does not show it whole in the field: a banner, a paddle, the score over
// it) and each paddle's top row.
export function sampleMotion(page, ms) {
  return page.evaluate(async (ms) => {
    const WIDTH = 320, HEIGHT = 240, BALL = 12;
    const FIELD_FROM_X = 12, FIELD_TO_X = 307, FIELD_FROM_Y = 28; // no paddle, no score
    const PADDLE_ROWS = 40, COLOURED_ROWS = 30; // most of a paddle's column, past its grip's marks
    const PADDLES = [[1, (r, g, b) => b - r > 100], [307, (r, g, b) => r - b > 100]];
    const field = await createImageBitmap(new Blob([FS.readFile('/img/game.png')]));
    const scratch = new OffscreenCanvas(WIDTH, HEIGHT).getContext('2d', { willReadFrequently: true });
    scratch.drawImage(field, 0, 0);
    const background = scratch.getImageData(0, 0, WIDTH, HEIGHT).data;
    // Read through a copy: the page's own canvas is only drawn on.
    const canvas = document.getElementById('canvas');
    const ballIn = (pixels) => {
      let fromX = WIDTH, toX = -1, fromY = HEIGHT, toY = -1;
      for (let y = FIELD_FROM_Y; y < HEIGHT; y++) {
        for (let x = FIELD_FROM_X; x < FIELD_TO_X; x++) {
          const i = (y * WIDTH + x) * 4;
          if (pixels[i] === background[i] && pixels[i + 1] === background[i + 1] && pixels[i + 2] === background[i + 2]) continue;
          fromX = Math.min(fromX, x); toX = Math.max(toX, x);
          fromY = Math.min(fromY, y); toY = Math.max(toY, y);
        }
      }
      const whole = toX - fromX + 1 === BALL && toY - fromY + 1 === BALL;
      return whole && fromX > FIELD_FROM_X && toX < FIELD_TO_X - 1 ? [fromX, fromY] : null;
    };
    const coloured = (pixels, [column, hue], y) => {
      const i = (y * WIDTH + column + 5) * 4;
      return hue(pixels[i], pixels[i + 1], pixels[i + 2]);
    };
    const paddleTop = (pixels, paddle) => {
      for (let y = 0; y + PADDLE_ROWS <= HEIGHT; y++) {
        if (!coloured(pixels, paddle, y)) continue;
        let rows = 0;
        for (let below = 0; below < PADDLE_ROWS; below++) rows += coloured(pixels, paddle, y + below);
        return rows >= COLOURED_ROWS ? y : null;
      }
      return null;
    };
    const samples = [];
    await new Promise((done) => {
      const end = performance.now() + ms;
      const look = (time) => {
        scratch.drawImage(canvas, 0, 0);
        const pixels = scratch.getImageData(0, 0, WIDTH, HEIGHT).data;
        samples.push({ time, ball: ballIn(pixels), paddles: PADDLES.map((paddle) => paddleTop(pixels, paddle)) });
        if (time < end) requestAnimationFrame(look);
        else done();
      };
      requestAnimationFrame(look);
    });
    return samples;
  }, ms);
}

// Of consecutive refreshes that both show the ball in flight (not more than
// a serve's jump apart) and came one refresh apart (a busy browser skips
// some: their move is twice as long, and says nothing of the game's): the
// share where it did not move, its horizontal moves' coefficient of
// variation, and its horizontal speed in px/s.
const LARGEST_FLIGHT_MOVE = 30;
const REFRESH_TOLERANCE = 0.25; // of the median time between two refreshes
function refreshMsOf(samples) {
  const intervals = samples.slice(1).map((sample, i) => sample.time - samples[i].time).sort((a, b) => a - b);
  return { refreshMs: intervals[Math.floor(intervals.length / 2)], intervals };
}
const oneRefreshApart = (interval, refreshMs) => Math.abs(interval - refreshMs) <= REFRESH_TOLERANCE * refreshMs;

export function ballMotion(samples) {
  const { refreshMs, intervals } = refreshMsOf(samples);
  const moves = [];
  let ms = 0;
  for (let i = 1; i < samples.length; i++) {
    const [before, after] = [samples[i - 1].ball, samples[i].ball];
    const interval = samples[i].time - samples[i - 1].time;
    if (!before || !after || !oneRefreshApart(interval, refreshMs)) continue;
    const dx = Math.abs(after[0] - before[0]);
    if (dx > LARGEST_FLIGHT_MOVE || Math.abs(after[1] - before[1]) > LARGEST_FLIGHT_MOVE) continue;
    moves.push(dx);
    ms += interval;
  }
  const mean = moves.reduce((sum, move) => sum + move, 0) / moves.length;
  const spread = Math.sqrt(moves.reduce((sum, move) => sum + (move - mean) ** 2, 0) / moves.length);
  return {
    refreshes: moves.length,
    still: moves.filter((move) => move === 0).length / moves.length,
    variation: spread / mean,
    speed: (1000 * moves.reduce((sum, move) => sum + move, 0)) / ms,
    refreshMs,
    skipped: intervals.filter((interval) => interval > (1 + REFRESH_TOLERANCE) * refreshMs).length,
  };
}

// A paddle's top row's moves between two refreshes one refresh apart.
export function paddleMoves(samples, side) {
  const { refreshMs } = refreshMsOf(samples);
  const moves = [];
  for (let i = 1; i < samples.length; i++) {
    const [before, after] = [samples[i - 1].paddles[side], samples[i].paddles[side]];
    if (before !== null && after !== null && oneRefreshApart(samples[i].time - samples[i - 1].time, refreshMs)) {
      moves.push(Math.abs(after - before));
    }
  }
  return moves;
}
