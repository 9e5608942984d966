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
    detected: (verdict, next) => `Detected: ${verdict}` + (next ? `; next best: ${next}` : ''),
    tooLittle: 'Too little text to tell the encoding: choose it under "From".',
    undetected: (guesses) => 'The encoding cannot be told from this text: choose it under "From".' +
      (guesses ? ` Best guesses: ${guesses}.` : ''),
    noLoss: 'Everything was converted.',
    progress: 'Progress',
    loading: 'Loading the converter…',
    loadFailed: 'The converter could not be loaded.',
    unwritable: (count, to, first, line, column, how) =>
      `${count} ${count === 1 ? 'character' : 'characters'} cannot be written in ${to}: the first is "${first}" at line ${line}, column ${column}; written as ${how}.`,
    asLowercase: 'lowercase', asQuestionMark: '"?"', or: 'or',
    undefinedBytes: (count, from, byte, offset, substitute) =>
      `${count} ${count === 1 ? 'byte is' : 'bytes are'} not defined in ${from}: the first is ${byte} at byte ${offset}; written as ${substitute}.`,
    preview: (shown, total) => `The result is shown up to ${shown} of ${total} bytes; the download holds all of it.`,
    legacyShown: 'The result is shown as the 8-bit font would display it; the download holds the exact bytes.',
    fileTaken: (name, size) => `Converting the file "${name}" (${size} bytes). Type here to convert text instead.`,
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
    detected: (verdict, next) => `Nhận dạng: ${verdict}` + (next ? `; kế đến: ${next}` : ''),
    tooLittle: 'Văn bản quá ngắn để nhận ra bảng mã: hãy chọn ở mục "Từ".',
    undetected: (guesses) => 'Không nhận ra bảng mã của văn bản này: hãy chọn ở mục "Từ".' +
      (guesses ? ` Có thể là: ${guesses}.` : ''),
    noLoss: 'Đã chuyển hết.',
    progress: 'Tiến độ',
    loading: 'Đang tải bộ chuyển mã…',
    loadFailed: 'Không tải được bộ chuyển mã.',
    unwritable: (count, to, first, line, column, how) =>
      `${count} ký tự không viết được trong ${to}: ký tự đầu tiên là "${first}" ở dòng ${line}, cột ${column}; đã viết thành ${how}.`,
    asLowercase: 'chữ thường', asQuestionMark: '"?"', or: 'hoặc',
    undefinedBytes: (count, from, byte, offset, substitute) =>
      `${count} byte không có nghĩa trong ${from}: byte đầu tiên là ${byte} ở vị trí ${offset}; đã viết thành ${substitute}.`,
    preview: (shown, total) => `Kết quả hiển thị ${shown} trên ${total} byte; tệp tải về có đủ.`,
    legacyShown: 'Kết quả hiển thị như phông chữ 8 bit sẽ hiện; tệp tải về có đúng từng byte.',
    fileTaken: (name, size) => `Đang chuyển mã tệp "${name}" (${size} byte). Gõ vào đây để chuyển văn bản.`,
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
    // An empty environment: wasi-libc reads it when the library asks for a
    // variable (VIQR_IMPLEMENTATION), and stops the module if it cannot.
    environ_sizes_get(countPointer, sizePointer) {
      const view = new DataView(getMemory().buffer);
      view.setUint32(countPointer, 0, true);
      view.setUint32(sizePointer, 0, true);
      return 0;
    },
    environ_get() {
      return 0;
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
// Conversions through the library's converters (viqr_converter_open and the
// calls after it), exactly as toneconv makes them.

const CONVERT_ENGLISH_MODE = 1;
const SUBSTITUTE_LOWERCASE = 1;
const SUBSTITUTE_QUESTION_MARK = 2;

function readCString(lib, pointer) {
  const bytes = new Uint8Array(lib.memory.buffer, pointer);
  return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
}

// A C string in the module's memory, freed by the caller.
function writeCString(lib, text) {
  const bytes = new TextEncoder().encode(text);
  const pointer = lib.malloc(bytes.length + 1);
  const area = new Uint8Array(lib.memory.buffer, pointer, bytes.length + 1);
  area.set(bytes);
  area[bytes.length] = 0;
  return pointer;
}

// Every encoding of the library's registry, in its order.
function listEncodings(lib) {
  const encodings = [];
  for (let i = 0; i < lib.viqr_encoding_count(); i++) {
    encodings.push({
      name: readCString(lib, lib.viqr_encoding_name(i)),
      description: readCString(lib, lib.viqr_encoding_description(i)),
      read: lib.viqr_encoding_can_read(i) !== 0,
      write: lib.viqr_encoding_can_write(i) !== 0,
    });
  }
  return encodings;
}

function lookupEncoding(lib, name) {
  const pointer = writeCString(lib, name);
  const encoding = lib.viqr_encoding_lookup(pointer);
  lib.free(pointer);
  if (encoding < 0) throw new Error(`unknown encoding ${name}`);
  return encoding;
}

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

// The loss report's fields, in the order web_loss_report_fields gives
// their offsets, with how each is read.
const LOSS_FIELDS = [
  ['unwritable', 'u64'], ['unwritableFirst', 'u32'], ['unwritableLine', 'u64'], ['unwritableColumn', 'u64'],
  ['substitutes', 'i32'], ['undefined', 'u64'], ['undefinedOffset', 'u64'], ['undefinedByte', 'u8'],
  ['undefinedSubstitute', 'u32'],
];

const DETECT_UNKNOWN = -1;
const DETECT_ASCII = -2;
const DETECT_TOO_LITTLE = -3;
const DETECTION_SIZE = 8; // viqr_detection: two ints
const RANKED_ROOM = 3;

// The name of a detection verdict, as toneconv --detect prints it.
function verdictName(lib, encoding) {
  if (encoding === DETECT_UNKNOWN || encoding === DETECT_TOO_LITTLE) return 'unknown';
  if (encoding === DETECT_ASCII) return 'ascii';
  return readCString(lib, lib.viqr_encoding_name(encoding));
}

// Copies `bytes` into the module's memory; the caller frees the pointer.
function copyIn(lib, bytes) {
  const pointer = lib.malloc(Math.max(bytes.length, 1));
  new Uint8Array(lib.memory.buffer, pointer, bytes.length).set(bytes);
  return pointer;
}

// The library's readings of `bytes`, the verdict first: [{ encoding, name, confidence }].
function detect(lib, bytes) {
  const text = copyIn(lib, bytes);
  const ranked = lib.malloc(DETECTION_SIZE * RANKED_ROOM);
  try {
    const count = lib.viqr_detect(text, bytes.length, ranked, RANKED_ROOM);
    const view = new DataView(lib.memory.buffer);
    const readings = [];
    for (let i = 0; i < count; i++) {
      const encoding = view.getInt32(ranked + DETECTION_SIZE * i, true);
      const confidence = view.getInt32(ranked + DETECTION_SIZE * i + 4, true);
      readings.push({ encoding, name: verdictName(lib, encoding), confidence });
    }
    return readings;
  } finally {
    lib.free(text);
    lib.free(ranked);
  }
}

function flagsOf({ english = false }) {
  return english ? CONVERT_ENGLISH_MODE : 0;
}

// One conversion from `from` to `to`: feed() pieces, then finish(); each
// returns a copy of the bytes written.  close() frees the converter.
class Converter {
  constructor(lib, from, to, options = {}) {
    this.lib = lib;
    this.from = from;
    this.handle = lib.viqr_converter_open(lookupEncoding(lib, from), lookupEncoding(lib, to), flagsOf(options));
    if (!this.handle) throw new Error(`cannot convert from ${from} to ${to}`);
    this.input = new Area(lib);
    this.output = new Area(lib);
  }
  // The auto converter: reads the encoding the library detects in `start`,
  // the text's first piece.  Null when the library cannot tell.
  static auto(lib, start, to, options = {}) {
    const text = copyIn(lib, start);
    const verdict = lib.malloc(DETECTION_SIZE);
    try {
      const handle = lib.viqr_converter_open_auto(text, start.length, lookupEncoding(lib, to), flagsOf(options), verdict);
      if (!handle) return null;
      const converter = Object.create(Converter.prototype);
      Object.assign(converter, { lib, handle, input: new Area(lib), output: new Area(lib) });
      converter.from = verdictName(lib, new DataView(lib.memory.buffer).getInt32(verdict, true));
      return converter;
    } finally {
      lib.free(text);
      lib.free(verdict);
    }
  }
  feed(bytes) {
    const input = this.input.reserve(Math.max(bytes.length, 1));
    const output = this.output.reserve(this.lib.web_convert_room(bytes.length));
    new Uint8Array(this.lib.memory.buffer, input, bytes.length).set(bytes);
    const written = this.lib.viqr_convert(this.handle, input, bytes.length, output);
    return new Uint8Array(this.lib.memory.buffer, output, written).slice();
  }
  finish() {
    const output = this.output.reserve(this.lib.web_convert_room(0));
    const written = this.lib.viqr_convert_finish(this.handle, output);
    return new Uint8Array(this.lib.memory.buffer, output, written).slice();
  }
  // What the input lost, or null when nothing was.
  losses() {
    const lib = this.lib;
    const record = lib.malloc(lib.web_loss_report_size() + 4 * LOSS_FIELDS.length);
    const offsets = record + lib.web_loss_report_size();
    try {
      if (!lib.viqr_convert_losses(this.handle, record)) return null;
      lib.web_loss_report_fields(offsets);
      const view = new DataView(lib.memory.buffer);
      const report = {};
      LOSS_FIELDS.forEach(([name, type], i) => {
        const at = record + view.getUint32(offsets + 4 * i, true);
        report[name] = type === 'u64' ? Number(view.getBigUint64(at, true))
          : type === 'u32' ? view.getUint32(at, true) : type === 'i32' ? view.getInt32(at, true) : view.getUint8(at);
      });
      return report;
    } finally {
      lib.free(record);
    }
  }
  close() {
    this.lib.viqr_converter_close(this.handle);
    this.handle = 0;
    this.input.release();
    this.output.release();
  }
}

// ---------------------------------------------------------------------------
// The page.

// Pieces of this size keep each step of a long conversion short, so that the
// page answers between them.  (The tests set status.pieceSize smaller, to
// cut letters between pieces.)
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
// milliseconds since the page started loading, how many have finished, and
// whether one is running or asked for.
const status = { firstConversionMs: null, conversions: 0, busy: false, pieceSize: PIECE_SIZE };
window.viqrPage = status;

// The selectors list the library's encodings under the names toneconv -l
// prints; the description is each option's tooltip.
function fillEncodingSelectors() {
  page.from.add(new Option(T.auto, 'auto'));
  for (const encoding of listEncodings(lib)) {
    const option = () => Object.assign(new Option(encoding.name, encoding.name), { title: encoding.description });
    if (encoding.read) page.from.add(option());
    if (encoding.write) page.to.add(option());
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
      read: async (at) => new Uint8Array(await file.slice(at, at + status.pieceSize).arrayBuffer()),
    };
  }
  const bytes = new TextEncoder().encode(page.input.value);
  return { size: bytes.length, read: async (at) => bytes.subarray(at, at + status.pieceSize) };
}

const reading = ({ name, confidence }) => `${name} (${confidence}%)`;

// Shows what the library detected in the text's first piece.
function showDetection(readings) {
  const [verdict, ...others] = readings;
  if (!verdict || verdict.encoding === DETECT_TOO_LITTLE) {
    page.detected.textContent = T.tooLittle;
  } else if (verdict.encoding === DETECT_UNKNOWN) {
    page.detected.textContent = T.undetected(others.map(reading).join(', '));
  } else {
    page.detected.textContent = T.detected(reading(verdict), others.length ? reading(others[0]) : '');
  }
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

function describeLosses(losses, from, to) {
  if (!losses) return T.noLoss;
  const words = [];
  if (losses.unwritable) {
    const how = [];
    if (losses.substitutes & SUBSTITUTE_LOWERCASE) how.push(T.asLowercase);
    if (losses.substitutes & SUBSTITUTE_QUESTION_MARK) how.push(T.asQuestionMark);
    words.push(T.unwritable(losses.unwritable, to, String.fromCodePoint(losses.unwritableFirst),
      losses.unwritableLine, losses.unwritableColumn, how.join(` ${T.or} `)));
  }
  if (losses.undefined) {
    const byte = `0x${losses.undefinedByte.toString(16).toUpperCase().padStart(2, '0')}`;
    const substitute = losses.undefinedSubstitute === 0xfffd ? 'U+FFFD (\uFFFD)' : `"${String.fromCodePoint(losses.undefinedSubstitute)}"`;
    words.push(T.undefinedBytes(losses.undefined, from, byte, losses.undefinedOffset, substitute));
  }
  return words.join(' ');
}

const nextTurn = () => new Promise((resolve) => setTimeout(resolve, 0));

// Opens the converter for the chosen source, or for `auto` the one the
// library detects in the first piece; null when it cannot tell.
function openConverter(first, to, options) {
  if (page.from.value !== 'auto') {
    page.detected.textContent = '';
    return new Converter(lib, page.from.value, to, options);
  }
  showDetection(detect(lib, first));
  return Converter.auto(lib, first, to, options);
}

function finished() {
  status.conversions += 1;
  if (status.firstConversionMs === null) status.firstConversionMs = performance.now();
  document.body.dataset.state = 'done';
}

async function convert() {
  document.body.dataset.state = 'converting';
  const input = sourcePieces();
  const to = page.to.value;
  page.progress.max = Math.max(input.size, 1);
  page.progress.value = 0;
  let piece = await input.read(0);
  if (requested) return;
  const converter = input.size ? openConverter(piece, to, { english: page.english.checked }) : null;
  if (!input.size) page.detected.textContent = '';
  if (!converter) {
    showResult([], 0, '', to, null);
    page.report.textContent = '';
    return finished();
  }
  let losses = null;
  const pieces = [];
  let total = 0;
  const keep = (part) => {
    if (part.length) pieces.push(part);
    total += part.length;
  };
  try {
    for (let at = 0; at < input.size; at += piece.length) {
      if (at > 0) piece = await input.read(at);
      if (requested) return;
      keep(converter.feed(piece));
      page.progress.value = at + piece.length;
      if (input.size > status.pieceSize) await nextTurn();
      if (requested) return;
    }
    keep(converter.finish());
    losses = converter.losses();
  } finally {
    converter.close();
  }
  page.progress.value = page.progress.max;
  showResult(pieces, total, converter.from, to, losses);
  finished();
}

function showResult(pieces, total, from, to, losses) {
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
  page.report.textContent = describeLosses(losses, from, to);
}

async function convertSoon() {
  requested = true;
  if (running || !lib) return;
  running = status.busy = true;
  while (requested) {
    requested = false;
    try {
      await convert();
    } catch (error) {
      page.report.textContent = String(error);
      document.body.dataset.state = 'failed';
    }
  }
  running = status.busy = false;
}

// A file replaces the text as the input: the text area empties and names it.
function takeFile(file) {
  if (!file) return;
  source = { kind: 'file', file };
  page.input.value = '';
  page.input.placeholder = T.fileTaken(file.name, file.size);
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
    page.input.placeholder = '';
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
wire();
page.report.textContent = T.loading;
try {
  lib = await loadModule(new URL('viqr.wasm', import.meta.url));
  fillEncodingSelectors();
  page.report.textContent = '';
  document.body.dataset.state = 'ready';
  if (page.input.value) convertSoon();
} catch (error) {
  page.report.textContent = `${T.loadFailed} ${error}`;
  document.body.dataset.state = 'failed';
}
