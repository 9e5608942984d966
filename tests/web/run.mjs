// Browser tests of the web page, in the system's headless Chromium.
//
//   node tests/web/run.mjs PAGE-FOLDER PROGRAM-FOLDER OUTPUT-FOLDER
//
// PAGE-FOLDER is what web/build.sh built; PROGRAM-FOLDER holds the native
// programs built from the same tree, whose output the page must equal byte
// for byte; screenshots and the large test file go to OUTPUT-FOLDER.  The
// page is served by a small server on 127.0.0.1 started here.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, statSync, writeFileSync, rmSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium, openPage as openConverter, servePage } from './harness.mjs';

const [pageFolder, programFolder, outputFolder] = process.argv.slice(2).map((p) => resolve(p));
if (!outputFolder) {
  console.error('usage: node run.mjs PAGE-FOLDER PROGRAM-FOLDER OUTPUT-FOLDER');
  process.exit(2);
}
mkdirSync(outputFolder, { recursive: true });

let server;
let origin;
let browser;
// Every request the browser makes, to show that nothing goes elsewhere.
const requests = [];

before(async () => {
  server = await servePage(pageFolder);
  origin = server.origin;
  browser = await launchChromium();
});

after(async () => {
  await browser?.close();
  server?.close();
});

async function openPage(options = {}) {
  return openConverter(browser, origin, options, requests);
}

// toneconv built from the same tree: what the page must write.
const toneconvPath = join(programFolder, 'toneconv');
const haveToneconv = (() => {
  try {
    return statSync(toneconvPath).isFile();
  } catch {
    return false;
  }
})();

function toneconv(args, input) {
  const run = spawnSync(toneconvPath, args, { input, maxBuffer: 1 << 30 });
  assert.equal(run.error, undefined, `toneconv did not run: ${run.error}`);
  return { stdout: run.stdout, stderr: run.stderr.toString(), status: run.status };
}

// What toneconv writes converting `input`; -c takes the substitutes as the
// page does.
function expected(from, to, input, { english = false } = {}) {
  return toneconv(['-c', '-f', from, '-t', to, ...(english ? ['-m'] : [])], input).stdout;
}

// The encodings the page offers, from the library's registry.
async function offered(page) {
  return page.evaluate(() => [...document.querySelectorAll('#from option, #to option')].map((o) => o.value));
}

// Whether the tree has toneconv and the library every one of `encodings`.
// Without them the test is skipped, saying why; under CI (CI=true) it fails.
async function needs(t, page, encodings) {
  const have = await offered(page);
  const missing = encodings.filter((name) => !have.includes(name));
  if (!haveToneconv) missing.push('toneconv');
  if (missing.length === 0) return true;
  assert.notEqual(process.env.CI, 'true', `not built: ${missing.join(', ')}`);
  t.skip(`not built yet: ${missing.join(', ')}`);
  return false;
}

// Runs `action` and waits until the page has shown the conversion it starts
// and has nothing more to convert.
async function converted(page, action) {
  const before = await page.evaluate(() => window.viqrPage.conversions);
  await action();
  await page.waitForFunction((n) => (window.viqrPage.conversions > n && !window.viqrPage.busy) ||
    document.body.dataset.state === 'failed', before);
  assert.equal(await page.evaluate(() => document.body.dataset.state), 'done', await page.textContent('#report'));
}

// The downloaded bytes of the result, as a user would save them.
async function downloaded(page) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  return { name: download.suggestedFilename(), bytes: readFileSync(await download.path()) };
}

async function choose(page, from, to) {
  await page.selectOption('#from', from);
  await page.selectOption('#to', to);
}

// Puts `text` in the text area as a paste does (one input event).
const paste = (page, text) => converted(page, () => page.fill('#input', text));

async function dropFile(page, name, bytes) {
  await converted(page, () => page.evaluate(([name, bytes]) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], name));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, [name, [...bytes]]));
}

const top = fileURLToPath(new URL('../..', import.meta.url));
const sampleUtf8 = spawnSync('iconv', ['-f', 'VISCII', '-t', 'UTF-8', 'sample/thu-gui-ban-doc.viscii'], { cwd: top }).stdout;
// Text that TCVN3 and VNI hold whole: no capital with a tone.
const plainUtf8 = Buffer.from('Cộng hòa xã hội chủ nghĩa Việt Nam\nĐộc lập - Tự do - Hạnh phúc\n' +
  'Báo cáo: mùa thu ở Hà Nội, trời trong, gió nhẹ; ở Huế, mưa dầm suốt tháng.\n');

// toneconv --detect's verdict on `input`: "tcvn3 (92%)", or "unknown".
function nativeVerdict(input) {
  const line = toneconv(['--detect'], input).stdout.toString();
  const found = line.match(/^standard input: (\S+)( \(\d+%\))?/);
  assert.ok(found, line);
  return found[1] === 'unknown' ? 'unknown' : found[1] + found[2];
}

// The bytes GNU recode writes for `input` in `charset`.
function recode(charset, input) {
  const run = spawnSync('recode', [`utf-8..${charset}`], { input });
  assert.equal(run.status, 0, `recode utf-8..${charset}: ${run.stderr}`);
  return run.stdout;
}

test('pasted UTF-8 becomes VIQR, in Vietnamese and English mode, as toneconv writes it', async (t) => {
  const page = await openPage();
  if (await needs(t, page, ['viqr'])) {
    for (const english of [false, true]) {
      await page.setChecked('#english', english);
      await choose(page, 'utf-8', 'viqr');
      await paste(page, sampleUtf8.toString());
      const viqr = expected('utf-8', 'viqr', sampleUtf8, { english });
      assert.equal(await page.inputValue('#output'), viqr.toString());
      const file = await downloaded(page);
      assert.deepEqual(file.bytes, viqr);
      assert.equal(file.name, 'text.viqr.txt');
    }
  }
  await page.context().close();
});

test('pasted VIQR, strict and as typed, becomes the UTF-8 toneconv writes', async (t) => {
  const page = await openPage();
  if (await needs(t, page, ['viqr', 'viqr-typed'])) {
    const cases = [
      ['viqr', expected('utf-8', 'viqr', sampleUtf8)],
      ['viqr-typed', Buffer.from('Tie^\'ng Vie^.t co\' dau, ddi dde^n tru+o+`ng. Chu+~ "Qua?n" va` C++ and e-mail.\n')],
    ];
    for (const [from, input] of cases) {
      await choose(page, from, 'utf-8');
      await paste(page, input.toString());
      const utf8 = expected(from, 'utf-8', input);
      assert.deepEqual(Buffer.from(await page.inputValue('#output')), utf8, from);
      assert.deepEqual((await downloaded(page)).bytes, utf8, from);
      if (from === 'viqr') assert.deepEqual(utf8, sampleUtf8);
    }
    assert.equal((await page.inputValue('#output')).slice(0, 10), 'Tiếng Việt');
  }
  await page.context().close();
});

test('a chosen file converts without a further click and downloads under its own name', async (t) => {
  const page = await openPage();
  if (await needs(t, page, ['ncr'])) {
    await choose(page, 'utf-8', 'ncr');
    await converted(page, () => page.setInputFiles('#file', { name: 'thu.txt', mimeType: 'text/plain', buffer: sampleUtf8 }));
    const file = await downloaded(page);
    assert.equal(file.name, 'thu.ncr.txt');
    assert.deepEqual(file.bytes, expected('utf-8', 'ncr', sampleUtf8));
  }
  await page.context().close();
});

// The legacy files are written by GNU recode, an oracle of its own: the page
// reads them back to the text they came from, exactly as toneconv does.
for (const [encoding, charset] of [['tcvn3', 'tcvn'], ['vni', 'vni']]) {
  test(`a dropped ${encoding} file is detected and read as toneconv reads it`, async (t) => {
    const page = await openPage();
    if (await needs(t, page, [encoding])) {
      const bytes = recode(charset, plainUtf8);
      await dropFile(page, `old-${encoding}.txt`, bytes);
      const utf8 = expected(encoding, 'utf-8', bytes);
      assert.deepEqual(utf8, plainUtf8);
      assert.match(await page.textContent('#detected'), new RegExp(`^Detected: ${encoding} \\(\\d+%\\)`));
      assert.ok((await page.textContent('#detected')).startsWith(`Detected: ${nativeVerdict(bytes)}`));
      assert.deepEqual(toneconv(['-f', 'auto', '-t', 'utf-8'], bytes).stdout, utf8);
      assert.deepEqual(Buffer.from(await page.inputValue('#output')), utf8);
      const file = await downloaded(page);
      assert.equal(file.name, `old-${encoding}.utf-8.txt`);
      assert.deepEqual(file.bytes, utf8);
    }
    await page.context().close();
  });
}

test('pieces of any size give the output of toneconv: letters cut between pieces', async (t) => {
  const page = await openPage();
  if (await needs(t, page, ['vni', 'cp1258', 'viqr-typed'])) {
    const typed = Buffer.from('Tie^\'ng Vie^.t co\' dau, ddi dde^n tru+o+`ng hoc. Nguye^~n Tra^`n Chu+o+ng.\n');
    const cases = [
      ['vni', recode('vni', plainUtf8)],
      ['cp1258', toneconv(['-f', 'utf-8', '-t', 'cp1258'], plainUtf8).stdout],
      ['viqr-typed', typed],
      ['utf-8', Buffer.from(plainUtf8.toString().normalize('NFD'))],
    ];
    for (const [from, bytes] of cases) {
      const utf8 = expected(from, 'utf-8', bytes);
      for (const size of [1, 2, 3, 7]) {
        await page.evaluate((size) => { window.viqrPage.pieceSize = size; }, size);
        await choose(page, from, 'utf-8');
        await converted(page, () => page.setInputFiles('#file', { name: 'cut.txt', mimeType: 'text/plain', buffer: bytes }));
        assert.deepEqual(Buffer.from(await page.inputValue('#output')), utf8, `${from} in pieces of ${size}`);
      }
    }
  }
  await page.context().close();
});

test('auto reads pasted text as the library detects it: mojibake repaired, English as ascii, thin text left alone', async (t) => {
  const page = await openPage();
  if (await needs(t, page, ['utf-8-as-cp1252', 'tcvn3-as-cp1252', 'vni-as-cp1252'])) {
    // Legacy or UTF-8 bytes shown in a Western font and saved again as text.
    const asCp1252 = (bytes) => new TextDecoder('windows-1252').decode(bytes);
    const cases = [
      [asCp1252(plainUtf8), 'utf-8-as-cp1252', plainUtf8],
      [asCp1252(recode('tcvn', plainUtf8)), 'tcvn3-as-cp1252', plainUtf8],
      [asCp1252(recode('vni', plainUtf8)), 'vni-as-cp1252', plainUtf8],
      ['The quick brown fox jumps over the lazy dog, twice a day.\n', 'ascii', null],
      ['12 345', 'unknown', Buffer.alloc(0)],
    ];
    await choose(page, 'auto', 'utf-8');
    for (const [text, name, utf8] of cases) {
      await paste(page, text);
      const detected = await page.textContent('#detected');
      if (name === 'unknown') assert.match(detected, /Too little text to tell/, text);
      else assert.match(detected, new RegExp(`^Detected: ${name} \\(\\d+%\\)`), text);
      const verdict = nativeVerdict(Buffer.from(text));
      if (verdict === 'unknown') assert.equal(name, 'unknown');
      else assert.ok(detected.startsWith(`Detected: ${verdict}`), `${detected} / toneconv: ${verdict}`);
      const output = Buffer.from(await page.inputValue('#output'));
      assert.deepEqual(output, utf8 ?? expected('utf-8', 'utf-8', Buffer.from(text)), name);
      if (name !== 'unknown' && name !== 'ascii') assert.deepEqual(output, expected(name, 'utf-8', Buffer.from(text)), name);
    }
  }
  await page.context().close();
});

test('the loss report names a toned capital that TCVN3 cannot hold, as toneconv counts it', async (t) => {
  const page = await openPage();
  if (await needs(t, page, ['tcvn3'])) {
    const text = 'Báo cáo\nCỘNG HÒA XÃ HỘI Việt Nam\n';
    await choose(page, 'utf-8', 'tcvn3');
    await paste(page, text);
    const native = toneconv(['-f', 'utf-8', '-t', 'tcvn3'], Buffer.from(text));
    assert.equal(native.status, 1);
    const [, count, first, line, column] = native.stderr.match(/(\d+) characters? cannot be written in tcvn3 \(first "(.+?)" at line (\d+), column (\d+)\)/);
    const report = await page.textContent('#report');
    assert.equal(report, `${count} characters cannot be written in tcvn3: the first is "${first}" at line ${line}, column ${column}; written as lowercase.`);
    assert.equal(first, 'Ộ');
    assert.deepEqual((await downloaded(page)).bytes, expected('utf-8', 'tcvn3', Buffer.from(text)));
  }
  await page.context().close();
});

test('a 20 MB TCVN3 file converts in pieces: the progress bar moves, the page answers, the bytes are exact', async (t) => {
  const page = await openPage();
  if (await needs(t, page, ['tcvn3'])) {
    const piece = recode('tcvn', plainUtf8);
    const big = Buffer.alloc(20 << 20);
    for (let at = 0; at < big.length; at += piece.length) piece.copy(big, at);
    const path = join(outputFolder, 'big-tcvn3.txt');
    writeFileSync(path, big);
    await choose(page, 'tcvn3', 'utf-8');
    // A timer in the page records the progress values it sees, and the
    // longest time it was kept waiting (printed, not judged: a busy machine
    // stretches it).
    await page.evaluate(() => {
      const seen = (window.progressSeen = []);
      const bar = document.getElementById('progress');
      let last = performance.now();
      window.longestPause = 0;
      window.watch = setInterval(() => {
        const now = performance.now();
        window.longestPause = Math.max(window.longestPause, now - last);
        last = now;
        if (seen[seen.length - 1] !== bar.value) seen.push(bar.value);
      }, 10);
    });
    const started = Date.now();
    await converted(page, () => page.setInputFiles('#file', path));
    const seconds = (Date.now() - started) / 1000;
    const { seen, longestPause, max } = await page.evaluate(() => {
      clearInterval(window.watch);
      return { seen: window.progressSeen, longestPause: window.longestPause, max: document.getElementById('progress').max };
    });
    console.log(`20 MB: ${seconds.toFixed(2)} s, ${seen.length} progress values, longest pause ${longestPause.toFixed(0)} ms`);
    // The page's timer ran between pieces: it saw the bar part-way at least
    // three times, so the page answered while it converted.
    assert.ok(seen.filter((v) => v > 0 && v < max).length >= 3, `progress values: ${seen}`);
    assert.equal(seen[seen.length - 1], max);
    const file = await downloaded(page);
    assert.ok(file.bytes.equals(expected('tcvn3', 'utf-8', big)), 'the download differs from toneconv\'s output');
    assert.match(await page.textContent('#note'), /download/);
    rmSync(path);
  }
  await page.context().close();
});

test('keyboard alone: type, choose the source, convert, copy and download', async (t) => {
  const page = await openPage();
  if (!(await needs(t, page, ['viqr-typed']))) return page.context().close();
  // From the top of the page, Tab reaches the text area first.
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'input');
  await page.keyboard.type('Vie^.t Nam');
  const focusOrder = [];
  for (let i = 0; i < 12; i++) {
    await page.keyboard.press('Tab');
    const id = await page.evaluate(() => document.activeElement.id);
    focusOrder.push(id);
    // A closed select steps through its options with the arrow keys.
    for (let step = 0; id === 'from' && step < 30 && (await page.inputValue('#from')) !== 'viqr-typed'; step++) {
      await page.keyboard.press('ArrowDown');
    }
    if (id === 'convert') break;
  }
  assert.deepEqual(focusOrder.filter((id) => ['file', 'from', 'to', 'english', 'live', 'convert'].includes(id)),
    ['file', 'from', 'to', 'english', 'live', 'convert']);
  assert.equal(await page.inputValue('#from'), 'viqr-typed');
  await converted(page, () => page.keyboard.press('Enter'));
  assert.equal(await page.inputValue('#output'), 'Việt Nam');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'output');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'copy');
  await page.context().grantPermissions(['clipboard-read', 'clipboard-write']);
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('note').textContent !== '');
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), 'Việt Nam');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'download');
  const [download] = await Promise.all([page.waitForEvent('download'), page.keyboard.press('Enter')]);
  assert.equal(readFileSync(await download.path()).toString(), 'Việt Nam');
  await page.context().close();
});

test('the interface speaks Vietnamese to a Vietnamese browser and English otherwise', async () => {
  for (const [locale, words] of [['vi-VN', 'Chuyển mã'], ['en-US', 'Convert']]) {
    const page = await openPage({ locale });
    assert.equal(await page.textContent('#convert'), words);
    assert.equal(await page.evaluate(() => document.documentElement.lang), locale.slice(0, 2));
    await page.context().close();
  }
});

test('after loading the page converts offline, and it asks only its own server', async () => {
  const page = await openPage();
  await page.context().setOffline(true);
  await choose(page, 'utf-8', 'utf-8-nfd');
  await paste(page, 'Không cần mạng');
  assert.equal(await page.inputValue('#output'), 'Không cần mạng'.normalize('NFD'));
  await page.context().close();
  const elsewhere = requests.filter((url) => !url.startsWith(origin) && !url.startsWith('blob:'));
  assert.deepEqual(elsewhere, []);
});

test('the module is under 300 KB', () => {
  const size = statSync(join(pageFolder, 'viqr.wasm')).size;
  console.log(`viqr.wasm: ${size} bytes`);
  assert.ok(size < 300 * 1024, `viqr.wasm is ${size} bytes`);
});

test('screenshots at desktop and phone widths', async () => {
  for (const [name, viewport] of [['desktop', { width: 1280, height: 900 }], ['phone', { width: 375, height: 812 }]]) {
    const page = await openPage({ viewport, deviceScaleFactor: 1 });
    if ((await offered(page)).includes('tcvn3')) await choose(page, 'utf-8', 'tcvn3');
    await paste(page, 'Tiếng Việt có dấu: TRƯỜNG HỌC, đường phố.\nCộng hòa xã hội chủ nghĩa Việt Nam');
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `${name}: the page is ${overflow} px wider than the window`);
    await page.screenshot({ path: join(outputFolder, `page-${name}.png`), fullPage: true });
    await page.context().close();
  }
});
