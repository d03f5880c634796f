// Opens the built tracker page in headless Chromium without a server: every request to ORIGIN is
// answered from the page's folder (or from `files`, a map of path -> Buffer or function returning
// one), and any other request is refused, so a page that reached elsewhere would fail. With `url`
// the page comes from that server instead (requests elsewhere still refused).
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

export async function openTracker({pageDir = '', url = '', chromiumPath = '/usr/bin/chromium', query = '', args = [],
                                   files = {}, beforeLoad = null, log = null}) {
  const indexPath = join(pageDir, 'index.html');
  if (!url && !existsSync(indexPath)) throw new Error(`no tracker page at ${indexPath} (build it first)`);
  if (!existsSync(chromiumPath)) throw new Error(`no Chromium at ${chromiumPath} (Debian: apt-get install chromium)`);
  const browser = await chromium.launch({executablePath: chromiumPath, headless: true, args});
  try {
    const page = await browser.newPage();
    const problems = [];
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
      if (log) log(`[page ${message.type()}] ${message.text()}`);
    });
    const root = normalize(pageDir) + sep;
    const origin = url ? new URL(url).origin : ORIGIN;
    await page.route('**/*', (route) => {
      const requested = new URL(route.request().url());
      if (requested.origin !== origin) return route.abort('blockedbyclient');
      if (url) return route.continue();
      const path = decodeURIComponent(requested.pathname);
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
    await page.goto(`${url || `${ORIGIN}/index.html`}${query ? `?${query}` : ''}`);
    await page.waitForFunction(() => window.kivoTracker && window.kivoTracker.ready);
    const error = await page.evaluate(async () => {
      await window.kivoTracker.ready;
      return window.kivoTracker.error;
    });
    if (error) throw new Error(`the tracker page failed: ${error}${problems.length ? `\n${problems.join('\n')}` : ''}`);
    return {browser, page, problems};
  } catch (error) {
    await browser.close();
    throw error;
  }
}
