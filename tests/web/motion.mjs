// The match's motion as the display shows it, read from the page's canvas at
// every refresh, and its figures (for the web tests and the motion benchmark).
import { SCREEN_HEIGHT, SCREEN_WIDTH } from './browser.mjs';

// Samples for `ms`: each refresh's time, the ball's top-left corner (null
// unless whole in the field) and each paddle's top row.
export function sampleMotion(page, ms) {
  return page.evaluate(async (ms, WIDTH, HEIGHT) => {
    const BALL = 12;
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
  }, ms, SCREEN_WIDTH, SCREEN_HEIGHT);
}

// [before, after, interval] of `what` (not null) at two refreshes one refresh
// apart (a busy browser skips some: such a move says nothing of the game's).
const REFRESH_TOLERANCE = 0.25; // of the median time between two refreshes
function refreshPairs(samples, what) {
  const intervals = samples.slice(1).map((sample, i) => sample.time - samples[i].time);
  const refreshMs = [...intervals].sort((a, b) => a - b)[Math.floor(intervals.length / 2)];
  const pairs = intervals.map((interval, i) => [what(samples[i]), what(samples[i + 1]), interval])
    .filter(([before, after, interval]) => before !== null && after !== null &&
                                           Math.abs(interval - refreshMs) <= REFRESH_TOLERANCE * refreshMs);
  return { refreshMs, pairs };
}

// In flight (no serve's jump): the share of refreshes without a move, the
// horizontal moves' coefficient of variation, the horizontal speed in px/s.
const LARGEST_FLIGHT_MOVE = 30;
export function ballMotion(samples) {
  const { refreshMs, pairs } = refreshPairs(samples, (sample) => sample.ball);
  const flights = pairs.filter(([before, after]) => [0, 1].every((axis) => Math.abs(after[axis] - before[axis]) <= LARGEST_FLIGHT_MOVE));
  const moves = flights.map(([before, after]) => Math.abs(after[0] - before[0]));
  const sum = (values) => values.reduce((total, value) => total + value, 0);
  const mean = sum(moves) / moves.length;
  return {
    refreshes: moves.length,
    still: moves.filter((move) => move === 0).length / moves.length,
    variation: Math.sqrt(sum(moves.map((move) => (move - mean) ** 2)) / moves.length) / mean,
    speed: (1000 * sum(moves)) / sum(flights.map(([, , interval]) => interval)),
    refreshMs,
  };
}

// A paddle's top row's moves between two refreshes one refresh apart.
export const paddleMoves = (samples, side) =>
  refreshPairs(samples, (sample) => sample.paddles[side]).pairs.map(([before, after]) => Math.abs(after - before));
