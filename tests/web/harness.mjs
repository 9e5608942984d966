// What the browser tests and the page's benchmark share: a small static
// server on 127.0.0.1 for the built page, and the system's Chromium started
// headless with nothing of its own going to the network.

import { createServer } from 'node:http';
import { readFileSync } from 'node:fs';
import { extname, join, resolve } from 'node:path';
import { chromium } from 'playwright-core';

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };

// Serves the files of `folder`; resolves to { origin, close }.
export function servePage(folder) {
  const root = resolve(folder);
  const server = createServer((request, response) => {
    const path = new URL(request.url, 'http://127.0.0.1').pathname;
    const file = join(root, path === '/' ? 'index.html' : decodeURIComponent(path));
    try {
      if (!file.startsWith(root + '/')) throw new Error('outside the page folder');
      const body = readFileSync(file);
      response.writeHead(200, { 'content-type': TYPES[extname(file)] || 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((ready) => {
    server.listen(0, '127.0.0.1', () => {
      ready({ origin: `http://127.0.0.1:${server.address().port}`, close: () => server.close() });
    });
  });
}

// Debian's Chromium, headless.  Playwright gives each launch a new, empty
// profile folder of its own (it refuses --user-data-dir), removed when the
// browser closes.
export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// A new context and page that has loaded the converter; `options` are the
// context's (locale, viewport).  The URL of every request is added to
// `requests`.
export async function openPage(browser, origin, options = {}, requests = []) {
  const context = await browser.newContext({ acceptDownloads: true, locale: 'en-GB', ...options });
  const page = await context.newPage();
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => console.error('page error:', error));
  await page.goto(`${origin}/`);
  await page.waitForFunction(() => document.body.dataset.state === 'ready');
  return page;
}
