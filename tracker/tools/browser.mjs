// Opens the built tracker page in headless Chromium without a server: every request to ORIGIN is
// answered from the page's folder (or from `files`, a map of path -> Buffer or function returning
// one), and any other request is refused, so a page that reached elsewhere would fail.
import {readFileSync, existsSync, statSync} from 'node:fs';
import {extname, join, normalize, sep} from 'node:path';
import {chromium} from 'playwright-core';

export const ORIGIN = 'http://127.0.0.1:9';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
  '.jpg': 'image/jpeg',
  '.webm': 'video/webm',
};

// Page errors and console errors, as they come.
function watchProblems(page, log) {
  const problems = [];
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
    if (log) log(`[page ${message.type()}] ${message.text()}`);
  });
  return problems;
}

// Waits until the page's tracker is ready; throws what it failed on.
async function trackerReady(page, problems) {
  await page.waitForFunction(() => window.kivoTracker && window.kivoTracker.ready);
  const error = await page.evaluate(async () => {
    await window.kivoTracker.ready;
    return window.kivoTracker.error;
  });
  if (error) throw new Error(`the tracker page failed: ${error}${problems.length ? `\n${problems.join('\n')}` : ''}`);
}

export async function openTracker({pageDir, chromiumPath = '/usr/bin/chromium', query = '', args = [],
                                   files = {}, beforeLoad = null, log = null}) {
  const indexPath = join(pageDir, 'index.html');
  if (!existsSync(indexPath)) throw new Error(`no tracker page at ${indexPath} (build it first)`);
  if (!existsSync(chromiumPath)) throw new Error(`no Chromium at ${chromiumPath} (Debian: apt-get install chromium)`);
  const browser = await chromium.launch({executablePath: chromiumPath, headless: true, args});
  try {
    const page = await browser.newPage();
    const problems = watchProblems(page, log);
    const root = normalize(pageDir) + sep;
    await page.route('**/*', (route) => {
      const url = new URL(route.request().url());
      if (url.origin !== ORIGIN) return route.abort('blockedbyclient');
      const path = decodeURIComponent(url.pathname);
      if (path in files) {
        const body = typeof files[path] === 'function' ? files[path]() : files[path];
        return route.fulfill({status: 200, contentType: TYPES[extname(path)] || 'application/octet-stream', body});
      }
      const file = normalize(join(pageDir, path));
      if (!file.startsWith(root) || !existsSync(file) || !statSync(file).isFile())
        return route.fulfill({status: 404, body: 'not found'});
      return route.fulfill({status: 200, contentType: TYPES[extname(file)] || 'application/octet-stream',
                            body: readFileSync(file)});
    });
    if (beforeLoad) await beforeLoad(page);
    await page.goto(`${ORIGIN}/index.html${query ? `?${query}` : ''}`);
    await trackerReady(page, problems);
    return {browser, page, problems};
  } catch (error) {
    await browser.close();
    throw error;
  }
}

// Opens the tracker page as a server serves it (rova's `device -listen`): `url` is the page's
// address with any query. Resolves once the page is ready; problems collects page errors.
export async function openServedTracker({url, chromiumPath = '/usr/bin/chromium', args = [], log = null}) {
  if (!existsSync(chromiumPath)) throw new Error(`no Chromium at ${chromiumPath} (Debian: apt-get install chromium)`);
  const browser = await chromium.launch({executablePath: chromiumPath, headless: true, args});
  try {
    const page = await browser.newPage();
    const problems = watchProblems(page, log);
    await page.goto(url);
    await trackerReady(page, problems);
    return {browser, page, problems};
  } catch (error) {
    await browser.close();
    throw error;
  }
}
