// The figures of the README's "Play in your browser" section, for the web
// build in build-web/ (run ./tools/web.sh --with-test-tools first):
//   node tools/web_benchmark.mjs
// - download: every file of build-web/ gzipped (level 9) as a web server
//   would send it, summed;
// - first menu frame: from the start of navigation to the game's first blit
//   of the menu onto the page's canvas, the page served from 127.0.0.1 with
//   the browser's cache off; the median of STARTS runs;
// - CPU: the user and system time of Chromium's processes (the browser and
//   all its children, read from /proc) over MEASURE_MS, in the menu and in a
//   two-player match with nobody steering, as a share of one core;
// - picture interval: the median time between two pictures of that match
//   (each blits the field's 320x240 background first), one per refresh of
//   the display (tools/web_motion_benchmark.mjs has the motion's figures).
import { readdirSync, readFileSync } from 'node:fs';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import * as web from '../tests/web/browser.mjs';

const BUILD = join(dirname(fileURLToPath(import.meta.url)), '..', 'build-web');
const STARTS = 7;
const MEASURE_MS = 5000;
const CLOCK_TICKS_PER_S = 100; // USER_HZ: the unit of /proc/PID/stat's times

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

function downloadSize() {
  let raw = 0, gzipped = 0;
  for (const name of readdirSync(BUILD)) {
    const bytes = readFileSync(join(BUILD, name));
    raw += bytes.length;
    gzipped += gzipSync(bytes, { level: 9 }).length;
  }
  return { raw, gzipped };
}

// The CPU seconds used so far by a process and all its descendants.
function cpuSeconds(rootPid) {
  const stats = new Map();
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      // Fields after the command's closing parenthesis: state ppid ... utime stime.
      const fields = readFileSync(`/proc/${entry}/stat`, 'utf8').split(') ')[1].split(' ');
      stats.set(Number(entry), { ppid: Number(fields[1]), ticks: Number(fields[11]) + Number(fields[12]) });
    } catch {
      // the process ended while we looked
    }
  }
  let ticks = 0;
  const family = [rootPid];
  while (family.length) {
    const pid = family.pop();
    ticks += stats.get(pid)?.ticks ?? 0;
    for (const [child, stat] of stats) if (stat.ppid === pid) family.push(child);
  }
  return ticks / CLOCK_TICKS_PER_S;
}

async function cpuShare(pid) {
  const before = cpuSeconds(pid), start = performance.now();
  await web.sleep(MEASURE_MS);
  return (cpuSeconds(pid) - before) / ((performance.now() - start) / 1000);
}

// Records, in the page, the time of every full-screen blit onto the canvas:
// the menu's first picture, and the first blit of each match frame.
function recordFullBlits() {
  window.fullBlits = [];
  const drawImage = CanvasRenderingContext2D.prototype.drawImage;
  CanvasRenderingContext2D.prototype.drawImage = function(image, ...rest) {
    if (this.canvas.id === 'canvas' && image.width === this.canvas.width && image.height === this.canvas.height) {
      window.fullBlits.push(performance.now());
    }
    return drawImage.call(this, image, ...rest);
  };
}

const { server, url } = await web.serve(BUILD);
const chrome = await web.launch();
try {
  const firstFrames = [];
  for (let run = 0; run < STARTS; run++) {
    const page = await chrome.browser.newPage();
    await page.setCacheEnabled(false);
    await page.evaluateOnNewDocument(recordFullBlits);
    await page.goto(url);
    await page.waitForFunction(() => window.fullBlits.length > 0);
    firstFrames.push(await page.evaluate(() => window.fullBlits[0]));
    await page.close();
  }

  const { page, lines } = await web.openGame(chrome.browser, url, recordFullBlits);
  await web.waitForLine(lines, 'Showing menu now');
  const pid = chrome.browser.process().pid;
  const menuCpu = await cpuShare(pid);
  await web.press(page, 'ArrowDown'); // 2 PLAYERS
  await web.press(page, 'Enter');
  await web.waitForLine(lines, 'Exiting menu.');
  const matchFrom = await page.evaluate(() => window.fullBlits.length);
  const matchCpu = await cpuShare(pid);
  const blits = (await page.evaluate(() => window.fullBlits)).slice(matchFrom);
  const intervals = blits.slice(1).map((time, i) => time - blits[i]);

  const size = downloadSize();
  const percent = (share) => `${(100 * share).toFixed(1)} % of one core`;
  console.log(`Download: ${(size.gzipped / 1024).toFixed(0)} KB gzipped (${(size.raw / 1024).toFixed(0)} KB as built)`);
  console.log(`First menu frame: ${median(firstFrames).toFixed(0)} ms after navigation (median of ${STARTS}, ` +
              `${Math.min(...firstFrames).toFixed(0)} to ${Math.max(...firstFrames).toFixed(0)})`);
  console.log(`CPU, browser, menu: ${percent(menuCpu)} (${MEASURE_MS / 1000} s)`);
  console.log(`CPU, browser, match: ${percent(matchCpu)} (${MEASURE_MS / 1000} s)`);
  console.log(`Picture interval, match: median ${median(intervals).toFixed(1)} ms (${intervals.length} pictures)`);
} finally {
  await chrome.close();
  server.kill();
}
