// The converter page: the viqr library compiled to WebAssembly does every
// conversion; this module only moves bytes in and out of it, in pieces, and
// shows the results.  Nothing is sent anywhere: the module is fetched once
// with the page, and the text never leaves the browser.

// ---------------------------------------------------------------------------
// Interface text, in English and Vietnamese, chosen from the browser's language.

const TEXTS = {
  en: {
    title: 'Vietnamese text converter',
    intro: 'Converts Vietnamese text between encodings (UTF-8, VIQR and the old 8-bit ones) inside this page.',
    privacy: 'Nothing leaves your computer: the conversion runs in your browser, and the page works offline once loaded.',
    inputLabel: 'Text to convert (paste or type)',
    fileLabel: 'Or choose a file',
    dropHint: 'or drop a file here',
    fromLabel: 'From',
    toLabel: 'To',
    auto: 'auto (detect)',
    english: 'Write VIQR in English mode',
    live: 'Convert as I type',
    convert: 'Convert',
    outputLabel: 'Result',
    copy: 'Copy',
    copied: 'Copied.',
    download: 'Download',
    detected: (name, confidence) => confidence === null ? `Detected: ${name}` : `Detected: ${name} (${confidence}%)`,
    detectedNothing: 'Detected: nothing yet',
    assumed: (name) => `Read as ${name} (this build does not detect encodings)`,
    noLoss: 'Everything was converted.',
    progress: 'Progress',
    loading: 'Loading the converter…',
    loadFailed: 'The converter could not be loaded.',
    invalid: (from, offset) => `A byte that is not valid ${from} at byte ${offset} was copied unchanged.`,
    preview: (shown, total) => `The result is shown up to ${shown} of ${total} bytes; the download holds all of it.`,
    legacyShown: 'The result is shown as the 8-bit font would display it; the download holds the exact bytes.',
    fileRead: (name) => `Could not read "${name}".`,
  },
  vi: {
    title: 'Chuyển mã văn bản tiếng Việt',
    intro: 'Chuyển mã văn bản tiếng Việt giữa các bảng mã (UTF-8, VIQR và các bảng mã 8 bit cũ) ngay trong trang này.',
    privacy: 'Không có gì rời khỏi máy của bạn: việc chuyển mã chạy trong trình duyệt, và trang vẫn dùng được khi không có mạng sau khi đã tải.',
    inputLabel: 'Văn bản cần chuyển (dán hoặc gõ)',
    fileLabel: 'Hoặc chọn tệp',
    dropHint: 'hoặc thả tệp vào đây',
    fromLabel: 'Từ',
    toLabel: 'Sang',
    auto: 'tự động (nhận dạng)',
    english: 'Viết VIQR ở chế độ tiếng Anh',
    live: 'Chuyển ngay khi gõ',
    convert: 'Chuyển mã',
    outputLabel: 'Kết quả',
    copy: 'Sao chép',
    copied: 'Đã sao chép.',
    download: 'Tải về',
    detected: (name, confidence) => confidence === null ? `Nhận dạng: ${name}` : `Nhận dạng: ${name} (${confidence}%)`,
    detectedNothing: 'Nhận dạng: chưa có',
    assumed: (name) => `Đọc theo ${name} (bản này không nhận dạng bảng mã)`,
    noLoss: 'Đã chuyển hết.',
    progress: 'Tiến độ',
    loading: 'Đang tải bộ chuyển mã…',
    loadFailed: 'Không tải được bộ chuyển mã.',
    invalid: (from, offset) => `Một byte không hợp lệ trong ${from} ở byte ${offset} được giữ nguyên.`,
    preview: (shown, total) => `Kết quả hiển thị ${shown} trên ${total} byte; tệp tải về có đủ.`,
    legacyShown: 'Kết quả hiển thị như phông chữ 8 bit sẽ hiện; tệp tải về có đúng từng byte.',
    fileRead: (name) => `Không đọc được "${name}".`,
  },
};

function chooseLanguage() {
  const wanted = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language || 'en'];
  for (const tag of wanted) {
    const primary = String(tag).toLowerCase().split('-')[0];
    if (primary in TEXTS) return primary;
  }
  return 'en';
}

const language = chooseLanguage();
const T = TEXTS[language];

function applyTexts() {
  document.documentElement.lang = language;
  document.title = T.title;
  for (const element of document.querySelectorAll('[data-text]')) {
    element.textContent = T[element.dataset.text];
  }
}

// ---------------------------------------------------------------------------
// The WebAssembly module.  The library asks the system for almost nothing:
// what wasi-libc links in (standard error for messages) gets small stand-ins,
// and every other WASI call answers "not supported".

const WASI_ENOSYS = 52;
const WASI_EBADF = 8;

function wasiImports(getMemory) {
  const stderr = [];
  const known = {
    fd_write(fd, iovs, iovsLength, writtenPointer) {
      const view = new DataView(getMemory().buffer);
      let written = 0;
      for (let i = 0; i < iovsLength; i++) {
        const base = view.getUint32(iovs + 8 * i, true);
        const length = view.getUint32(iovs + 8 * i + 4, true);
        if (fd === 2) stderr.push(new TextDecoder().decode(new Uint8Array(getMemory().buffer, base, length)));
        written += length;
      }
      view.setUint32(writtenPointer, written, true);
      if (fd === 2 && stderr.join('').includes('\n')) console.warn(stderr.splice(0).join(''));
      return fd === 1 || fd === 2 ? 0 : WASI_EBADF;
    },
    proc_exit(code) {
      throw new Error(`the converter stopped (status ${code})`);
    },
  };
  return new Proxy(known, {
    get: (target, name) => target[name] || (() => WASI_ENOSYS),
  });
}

async function loadModule(url) {
  let memory = null;
  const imports = { wasi_snapshot_preview1: wasiImports(() => memory) };
  const response = await fetch(url);
  let result;
  if (WebAssembly.instantiateStreaming && (response.headers.get('content-type') || '').startsWith('application/wasm')) {
    result = await WebAssembly.instantiateStreaming(response, imports);
  } else {
    result = await WebAssembly.instantiate(await response.arrayBuffer(), imports);
  }
  const exports = result.instance.exports;
  memory = exports.memory;
  if (exports._initialize) exports._initialize();
  return exports;
}

// ---------------------------------------------------------------------------
// Conversions through the library.  A conversion reads the source into UTF-8
// and writes UTF-8 into the target; each stage is one of the library's
// streaming conversions, and keeps its state in the module's memory from one
// piece to the next, so the pieces give the same result as the whole.

const COMPOSITION_CHAR = 0x5c;
const OVERSTRIKE_CHAR = 0x08;
const MODE_VIETNAMESE = 0;
const MODE_ENGLISH = 1;
const PARAM_HOLD = 8;
const PARAM_TYPED = 16;

// A growing area of the module's memory.
class Area {
  constructor(lib) {
    this.lib = lib;
    this.pointer = 0;
    this.size = 0;
  }
  reserve(size) {
    if (size > this.size) {
      if (this.pointer) this.lib.free(this.pointer);
      this.pointer = this.lib.malloc(size);
      if (!this.pointer) throw new Error('out of memory');
      this.size = size;
    }
    return this.pointer;
  }
  release() {
    if (this.pointer) this.lib.free(this.pointer);
    this.pointer = 0;
    this.size = 0;
  }
}

// Takes the library's reports of bytes that are not valid UTF-8 from a scan.
function takeReports(lib, scanPointer, encoding, reports) {
  const record = lib.malloc(lib.web_report_size());
  while (lib.viqr_utf8_take_report(scanPointer, record)) {
    const view = new DataView(lib.memory.buffer);
    const offset = view.getBigUint64(record + lib.web_report_offset_offset(), true);
    reports.push({ kind: 'invalid', encoding, offset: Number(offset) });
  }
  lib.free(record);
}

// A stage that hands UTF-8 on as it is.
class PassStage {
  feed(pointer, length) {
    return [pointer, length];
  }
  finish() {
    return [0, 0];
  }
  close() {}
}

// VIQR (strict, or as people type it) to UTF-8.
class ViqrToUtf8Stage {
  constructor(lib, typed, reports) {
    this.lib = lib;
    this.reports = reports;
    this.encoding = typed ? 'viqr-typed' : 'viqr';
    this.context = lib.viqr_open(MODE_VIETNAMESE, COMPOSITION_CHAR, OVERSTRIKE_CHAR);
    if (this.context < 0) throw new Error('no decoder context is free');
    lib.viqr_set(this.context, 1, PARAM_HOLD);
    if (typed) lib.viqr_set(this.context, 1, PARAM_TYPED);
    this.state = lib.malloc(lib.web_to_utf8_state_size());
    lib.viqr_to_utf8_start(this.state, this.context);
    this.scan = this.state + lib.web_to_utf8_scan_offset();
    lib.viqr_utf8_begin_input(this.scan, 0);
    this.out = new Area(lib);
  }
  feed(pointer, length) {
    const out = this.out.reserve(this.lib.web_to_utf8_room(length));
    const written = this.lib.viqr_to_utf8(this.state, pointer, length, out);
    takeReports(this.lib, this.scan, this.encoding, this.reports);
    return [out, written];
  }
  finish() {
    const out = this.out.reserve(this.lib.web_to_utf8_room(0));
    const written = this.lib.viqr_to_utf8_finish(this.state, out);
    takeReports(this.lib, this.scan, this.encoding, this.reports);
    return [out, written];
  }
  close() {
    if (this.context >= 0) this.lib.viqr_close(this.context, 0, 0);
    this.context = -1;
    this.lib.free(this.state);
    this.out.release();
  }
}

// UTF-8 to VIQR, headed by the mode announcement as tonedown writes it.
class Utf8ToViqrStage {
  constructor(lib, english, reports) {
    this.lib = lib;
    this.reports = reports;
    this.mode = english ? MODE_ENGLISH : MODE_VIETNAMESE;
    this.state = lib.malloc(lib.web_from_utf8_state_size());
    lib.viqr_from_utf8_start(this.state, COMPOSITION_CHAR, this.mode);
    this.scan = this.state + lib.web_from_utf8_scan_offset();
    lib.viqr_utf8_begin_input(this.scan, 0);
    this.out = new Area(lib);
    this.announced = false;
  }
  // Writes the announcement at the head of the first output.
  reserveWithHead(room) {
    const head = this.announced ? 0 : 2;
    const out = this.out.reserve(head + room);
    if (head) {
      new Uint8Array(this.lib.memory.buffer, out, 2).set([COMPOSITION_CHAR, this.mode === MODE_ENGLISH ? 0x4d : 0x56]);
      this.announced = true;
    }
    return [out, head];
  }
  feed(pointer, length) {
    const [out, head] = this.reserveWithHead(this.lib.web_from_utf8_room(length));
    const written = this.lib.viqr_from_utf8(this.state, pointer, length, out + head);
    takeReports(this.lib, this.scan, 'utf-8', this.reports);
    return [out, head + written];
  }
  finish() {
    const [out, head] = this.reserveWithHead(this.lib.web_from_utf8_room(0));
    const written = this.lib.viqr_from_utf8_finish(this.state, out + head);
    takeReports(this.lib, this.scan, 'utf-8', this.reports);
    return [out, head + written];
  }
  close() {
    this.lib.free(this.state);
    this.out.release();
  }
}

// The encodings this build of the library reads and writes.
const ENCODINGS = [
  { name: 'utf-8', read: true, write: true },
  { name: 'viqr', read: true, write: true },
  { name: 'viqr-typed', read: true, write: false },
];

function sourceStage(lib, from, reports) {
  if (from === 'viqr' || from === 'viqr-typed') return new ViqrToUtf8Stage(lib, from === 'viqr-typed', reports);
  return new PassStage();
}

function targetStage(lib, to, options, reports) {
  if (to === 'viqr') return new Utf8ToViqrStage(lib, options.english, reports);
  return new PassStage();
}

// One conversion from `from` to `to`: feed() pieces, then finish(); each
// returns a copy of the bytes written.  close() frees the library's state.
class Converter {
  constructor(lib, from, to, options) {
    this.lib = lib;
    this.reports = [];
    this.stages = [sourceStage(lib, from, this.reports), targetStage(lib, to, options, this.reports)];
    this.input = new Area(lib);
  }
  feed(bytes) {
    const pointer = this.input.reserve(Math.max(bytes.length, 1));
    new Uint8Array(this.lib.memory.buffer, pointer, bytes.length).set(bytes);
    return [this.through(0, pointer, bytes.length)];
  }
  // Flushes each stage in turn, passing what it held through the ones after it.
  finish() {
    const pieces = [];
    for (let i = 0; i < this.stages.length; i++) {
      const [pointer, length] = this.stages[i].finish();
      pieces.push(this.through(i + 1, pointer, length));
    }
    return pieces;
  }
  // A copy of what stages `first` onwards make of the bytes at `pointer`.
  through(first, pointer, length) {
    let [p, n] = [pointer, length];
    for (let i = first; i < this.stages.length && n; i++) [p, n] = this.stages[i].feed(p, n);
    return new Uint8Array(this.lib.memory.buffer, p, n).slice();
  }
  close() {
    for (const stage of this.stages) stage.close();
    this.input.release();
  }
}

// ---------------------------------------------------------------------------
// The page.

// Pieces of this size keep each step of a long conversion short, so that the
// page answers between them.
const PIECE_SIZE = 1 << 20;
// The result area shows at most this many bytes; the download holds all.
const PREVIEW_SIZE = 256 << 10;

const $ = (id) => document.getElementById(id);
const page = {
  input: $('input'), file: $('file'), from: $('from'), to: $('to'), english: $('english'), live: $('live'),
  convert: $('convert'), detected: $('detected'), output: $('output'), copy: $('copy'),
  download: $('download'), report: $('report'), progress: $('progress'), note: $('note'), drop: $('drop'),
};

// What the page is converting: the text area, or a file (a Blob read piece by piece).
let source = { kind: 'text' };
let lib = null;
// One conversion runs at a time; a change while it runs asks for another,
// and the running one stops at its next piece.
let running = false;
let requested = false;
let downloadUrl = null;

// Test and diagnostics hooks: when the first conversion was shown, in
// milliseconds since the page started loading, and how many have finished.
const status = { firstConversionMs: null, conversions: 0 };
window.viqrPage = status;

function fillEncodingSelectors() {
  const auto = new Option(T.auto, 'auto');
  page.from.add(auto);
  for (const encoding of ENCODINGS) {
    if (encoding.read) page.from.add(new Option(encoding.name, encoding.name));
    if (encoding.write) page.to.add(new Option(encoding.name, encoding.name));
  }
  page.from.value = 'auto';
  page.to.value = 'utf-8';
}

// The input as pieces: a file is read piece by piece; text is at hand.
function sourcePieces() {
  if (source.kind === 'file') {
    const file = source.file;
    return {
      size: file.size,
      read: async (at) => new Uint8Array(await file.slice(at, at + PIECE_SIZE).arrayBuffer()),
    };
  }
  const bytes = new TextEncoder().encode(page.input.value);
  return { size: bytes.length, read: async (at) => bytes.subarray(at, at + PIECE_SIZE) };
}

// The encoding to read: the one chosen, or for `auto` the library's answer.
function detect() {
  page.detected.textContent = T.assumed('utf-8');
  return 'utf-8';
}

function downloadName(to) {
  const suffix = `.${to}`;
  if (source.kind !== 'file') return `text${suffix}.txt`;
  const name = source.file.name;
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) + suffix + name.slice(dot) : name + suffix;
}

// Text for the result area: UTF-8 where the bytes are UTF-8, otherwise the
// bytes as a Western 8-bit font shows them, which is what the legacy
// Vietnamese fonts draw as Vietnamese letters.
function previewOf(pieces, total) {
  const shown = new Uint8Array(Math.min(total, PREVIEW_SIZE));
  let at = 0;
  for (const piece of pieces) {
    if (at >= shown.length) break;
    const part = piece.subarray(0, shown.length - at);
    shown.set(part, at);
    at += part.length;
  }
  try {
    return { text: new TextDecoder('utf-8', { fatal: true }).decode(shown, { stream: total > shown.length }), legacy: false };
  } catch {
    return { text: new TextDecoder('windows-1252').decode(shown), legacy: true };
  }
}

function describeReports(reports) {
  if (!reports.length) return T.noLoss;
  return reports.map((r) => T.invalid(r.encoding, r.offset)).join(' ');
}

const nextTurn = () => new Promise((resolve) => setTimeout(resolve, 0));

async function convert() {
  document.body.dataset.state = 'converting';
  const input = sourcePieces();
  const from = page.from.value === 'auto' ? detect(input) : page.from.value;
  if (page.from.value !== 'auto') page.detected.textContent = T.detectedNothing;
  const to = page.to.value;
  const converter = new Converter(lib, from, to, { english: page.english.checked });
  const pieces = [];
  let total = 0;
  const keep = (parts) => {
    for (const part of parts) {
      if (part.length) pieces.push(part);
      total += part.length;
    }
  };
  try {
    page.progress.max = Math.max(input.size, 1);
    page.progress.value = 0;
    for (let at = 0; at < input.size; at += PIECE_SIZE) {
      const piece = await input.read(at);
      if (requested) return;
      keep(converter.feed(piece));
      page.progress.value = at + piece.length;
      if (input.size > PIECE_SIZE) await nextTurn();
      if (requested) return;
    }
    keep(converter.finish());
  } finally {
    converter.close();
  }
  page.progress.value = page.progress.max;
  showResult(pieces, total, to, converter.reports);
  status.conversions += 1;
  if (status.firstConversionMs === null) status.firstConversionMs = performance.now();
  document.body.dataset.state = 'done';
}

function showResult(pieces, total, to, reports) {
  const preview = previewOf(pieces, total);
  page.output.value = preview.text;
  const notes = [];
  if (total > PREVIEW_SIZE) notes.push(T.preview(PREVIEW_SIZE, total));
  if (preview.legacy) notes.push(T.legacyShown);
  page.note.textContent = notes.join(' ');
  if (downloadUrl) URL.revokeObjectURL(downloadUrl);
  downloadUrl = URL.createObjectURL(new Blob(pieces, { type: 'application/octet-stream' }));
  page.download.href = downloadUrl;
  page.download.download = downloadName(to);
  page.report.textContent = describeReports(reports);
}

async function convertSoon() {
  requested = true;
  if (running || !lib) return;
  running = true;
  while (requested) {
    requested = false;
    try {
      await convert();
    } catch (error) {
      page.report.textContent = String(error);
      document.body.dataset.state = 'failed';
    }
  }
  running = false;
}

function takeFile(file) {
  if (!file) return;
  source = { kind: 'file', file };
  convertSoon();
}

async function copyResult() {
  try {
    await navigator.clipboard.writeText(page.output.value);
  } catch {
    page.output.select();
    document.execCommand('copy');
  }
  page.note.textContent = T.copied;
}

function wire() {
  page.input.addEventListener('input', () => {
    source = { kind: 'text' };
    if (page.live.checked) convertSoon();
  });
  page.file.addEventListener('change', () => takeFile(page.file.files[0]));
  for (const control of [page.from, page.to, page.english]) control.addEventListener('change', convertSoon);
  page.convert.addEventListener('click', convertSoon);
  page.copy.addEventListener('click', copyResult);
  page.drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    page.drop.classList.add('over');
  });
  page.drop.addEventListener('dragleave', () => page.drop.classList.remove('over'));
  page.drop.addEventListener('drop', (event) => {
    event.preventDefault();
    page.drop.classList.remove('over');
    takeFile(event.dataTransfer.files[0]);
  });
}

applyTexts();
fillEncodingSelectors();
wire();
page.report.textContent = T.loading;
try {
  lib = await loadModule(new URL('viqr.wasm', import.meta.url));
  page.report.textContent = '';
  document.body.dataset.state = 'ready';
  if (page.input.value) convertSoon();
} catch (error) {
  page.report.textContent = `${T.loadFailed} ${error}`;
  document.body.dataset.state = 'failed';
}
