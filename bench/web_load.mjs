// How soon the web page converts after it starts loading, and how fast it
// converts a large text, in the system's headless Chromium:
//
//   node bench/web_load.mjs PAGE-FOLDER [LOADS]
//
// Each load is a new browser context (nothing cached).  The text is put in
// the moment the document is parsed, as a user who pastes at once, and the
// page's own clock says when the result showed.  Needs tests/web's npm
// packages (npm ci in tests/web).
import { statSync } from 'node:fs';
import { join } from 'node:path';
import { launchChromium, openPage, servePage } from '../tests/web/harness.mjs';

const [pageFolder, loadsArgument] = process.argv.slice(2);
if (!pageFolder) {
  console.error('usage: node bench/web_load.mjs PAGE-FOLDER [LOADS]');
  process.exit(2);
}
const loads = Number(loadsArgument || 10);
const server = await servePage(pageFolder);
const browser = await launchChromium();

const times = [];
for (let i = 0; i < loads; i++) {
  const context = await browser.newContext();
  await context.addInitScript(() => document.addEventListener('DOMContentLoaded', () => {
    const input = document.getElementById('input');
    input.value = 'Tiếng Việt';
    input.dispatchEvent(new Event('input'));
  }));
  const page = await context.newPage();
  await page.goto(`${server.origin}/`);
  await page.waitForFunction(() => window.viqrPage && window.viqrPage.firstConversionMs !== null);
  times.push(await page.evaluate(() => window.viqrPage.firstConversionMs));
  await context.close();
}
times.sort((a, b) => a - b);
const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))].toFixed(0);
console.log(`viqr.wasm: ${statSync(join(pageFolder, 'viqr.wasm')).size} bytes`);
console.log(`first conversion shown, ms from the start of loading, over ${loads} loads: ` +
  `min ${at(0)}, median ${at(0.5)}, max ${at(1)}`);

// 20 MB of UTF-8 to UTF-8 NFD, which every build has: the conversion alone.
const page = await openPage(browser, server.origin);
const mbPerSecond = await page.evaluate(async () => {
  const text = 'Cộng hòa xã hội chủ nghĩa Việt Nam. Độc lập - Tự do - Hạnh phúc.\n'.repeat(320000);
  const file = new File([text], 'big.txt');
  document.getElementById('to').value = 'utf-8-nfd';
  const input = document.getElementById('file');
  const transfer = new DataTransfer();
  transfer.items.add(file);
  input.files = transfer.files;
  const before = window.viqrPage.conversions;
  const start = performance.now();
  input.dispatchEvent(new Event('change'));
  while (window.viqrPage.conversions === before) await new Promise((r) => setTimeout(r, 5));
  return file.size / 1e6 / ((performance.now() - start) / 1000);
});
console.log(`20 MB file, utf-8 to utf-8-nfd, read, converted and shown: ${mbPerSecond.toFixed(0)} MB/s`);
await browser.close();
server.close();
