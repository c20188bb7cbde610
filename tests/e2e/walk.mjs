// Browser walk through the Varnox window: starts `varnox demo` on a temporary root, drives
// Debian's chromium at phone and desktop sizes, and checks what a user sees and what the
// server says. Usage: node walk.mjs VARNOX_BINARY SCREENSHOT_DIR
// Prints one line per step; exits 1 at the first failure.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { chromium } from 'playwright-core';

const [binary, shotDir] = process.argv.slice(2);
if (!binary || !shotDir) {
  console.error('usage: node walk.mjs VARNOX_BINARY SCREENSHOT_DIR');
  process.exit(2);
}
const WAIT = 60000; // how long a condition may take to come true before the walk gives up
const PROBE_STORE = 'Probe';
fs.mkdirSync(shotDir, { recursive: true });
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'varnox-walk-'));
const root = path.join(tmp, 'root');

let step = 0;
let program = null;
let exitCode = null;
let exited = null;        // resolves when the program ends
let expectAlive = true;   // false once the walk asked it to end
const pageErrors = [];
let stderrTail = '';
let browser = null;
let page = null;
let pixelServer = null;
let pixelHits = 0;
const statuses = []; // every status text the event stream delivered, in order

function ok(what) { console.log(`ok ${++step} - ${what}`); }
class WalkError extends Error {}
function check(cond, what) { if (!cond) throw new WalkError(what); }
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Polls fn until it returns a truthy value; the walk fails when it never does.
async function until(fn, what, ms = WAIT) {
  const end = Date.now() + ms;
  let last;
  for (;;) {
    try { last = await fn(); } catch (e) { last = undefined; }
    if (last) return last;
    if (expectAlive && exitCode !== null) throw new WalkError(`${what}: varnox exited with ${exitCode}`);
    if (Date.now() > end) throw new WalkError(`${what}: not within ${ms / 1000} s`);
    await sleep(100);
  }
}

// ---- the probe message: markup that must render, a script and a remote image that must not act ----
function probeMessage(pixelPort) {
  const html = '<html><body><h1>Sandbox probe</h1>' +
    "<script>document.title='ran'</script>" +
    `<img src="http://127.0.0.1:${pixelPort}/pixel" alt="pixel"></body></html>`;
  return [
    'From: Sandbox Probe <probe@walk.invalid>', 'To: user@walk.invalid', 'Subject: Sandbox probe',
    `Date: ${new Date().toUTCString().replace('GMT', '+0000')}`, 'Message-ID: <sandbox-probe@walk.invalid>',
    'MIME-Version: 1.0', 'Content-Type: multipart/alternative; boundary="walk-boundary"', '',
    '--walk-boundary', 'Content-Type: text/plain; charset=utf-8', '', 'Sandbox probe plain text', '',
    '--walk-boundary', 'Content-Type: text/html; charset=utf-8', '', html, '', '--walk-boundary--', '',
  ].join('\r\n');
}

async function startPixelListener() {
  pixelServer = http.createServer((req, res) => { pixelHits++; res.writeHead(204); res.end(); });
  await new Promise((r) => pixelServer.listen(0, '127.0.0.1', r));
  return pixelServer.address().port;
}

function makeRoot(pixelPort) {
  const store = path.join(root, 'Mail', PROBE_STORE);
  for (const d of ['new', 'cur', 'tmp']) fs.mkdirSync(path.join(store, d), { recursive: true });
  fs.writeFileSync(path.join(store, 'new', `${Math.floor(Date.now() / 1000)}.P${process.pid}.walk`),
    probeMessage(pixelPort));
}

function startProgram() {
  program = spawn(binary, ['demo', '--root', root, '--listen', '127.0.0.1:0'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  exited = new Promise((r) => program.on('exit', (code, signal) => {
    exitCode = code === null ? `signal ${signal}` : code;
    r();
  }));
  program.stderr.on('data', (d) => { stderrTail = (stderrTail + d).slice(-4000); });
  const lines = readline.createInterface({ input: program.stdout });
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new WalkError('no address line within 60 s')), WAIT);
    program.on('exit', () => { clearTimeout(timer); reject(new WalkError(`varnox exited with ${exitCode}`)); });
    lines.on('line', (line) => {
      const m = /^Varnox: (http:\/\/127\.0\.0\.1:(\d+)\/)\?token=([0-9a-f]{32})$/.exec(line);
      if (m) { clearTimeout(timer); resolve({ base: m[1], url: line.slice('Varnox: '.length), token: m[3] }); }
    });
  });
}

// Reads the server's event stream as a script would and records the status texts.
async function collectStatuses(base, token) {
  const res = await fetch(base + 'api/events', { headers: { Authorization: `Bearer ${token}` } });
  check(res.ok, `event stream answered ${res.status}`);
  check((res.headers.get('content-type') || '').startsWith('text/event-stream'), 'event stream content type');
  const decoder = new TextDecoder();
  let buf = '';
  (async () => {
    try {
      for await (const chunk of res.body) {
        buf += decoder.decode(chunk, { stream: true }).replace(/\r\n?/g, '\n');
        let cut;
        while ((cut = buf.indexOf('\n\n')) >= 0) {
          const block = buf.slice(0, cut);
          buf = buf.slice(cut + 2);
          let event = 'message';
          const data = [];
          for (const line of block.split('\n')) {
            if (line.startsWith('event:')) event = line.slice(6).trim();
            else if (line.startsWith('data:')) data.push(line.slice(5).replace(/^ /, ''));
          }
          if (event === 'status') statuses.push(JSON.parse(data.join('\n')).text);
        }
      }
    } catch (e) { /* the stream ends with the program */ }
  })();
}
// True when the status texts since `mark` hold `first` and, later, the empty text.
function sawStatus(mark, first) {
  const seen = statuses.slice(mark);
  const at = seen.indexOf(first);
  return at >= 0 && seen.indexOf('', at + 1) > at;
}

// Mail files delivered today (local time), wherever the scan has filed them.
function todaysMail() {
  const today = new Date().toDateString();
  let n = 0;
  for (const store of fs.readdirSync(path.join(root, 'Mail')))
    for (const sub of ['new', 'cur', '.Spam/new', '.Spam/cur']) {
      const dir = path.join(root, 'Mail', store, sub);
      if (!fs.existsSync(dir)) continue;
      for (const f of fs.readdirSync(dir)) if (fs.statSync(path.join(dir, f)).mtime.toDateString() === today) n++;
    }
  return n;
}

async function api(base, token, p) {
  const res = await fetch(base + p.replace(/^\//, ''), { headers: { Authorization: `Bearer ${token}` } });
  check(res.ok, `${p} answered ${res.status}`);
  return res.json();
}

// ---- reading the page ----
const badge = () => page.locator('#c1037').textContent();
const cardCount = () => page.locator('#c1010 > li').count();
async function cardTexts() {
  return page.locator('#c1010 > li').evaluateAll((lis) => lis.map((li) => ({
    from: li.querySelector('.from').textContent, time: li.querySelector('.time').textContent,
    msg: li.querySelector('.msg').textContent, selected: li.getAttribute('aria-selected') === 'true',
  })));
}
// The page shows what the server holds: the same count, as many cards as messages.
async function settled(base, token) {
  return until(async () => {
    const v = (await api(base, token, '/api/window')).dialogs['120'].controls;
    const n = Number(v['1037'].text);
    return v['1010'].lines.length === 4 * n && (await badge()) === String(n) && (await cardCount()) === n
      && (await page.locator('#c1019').textContent()) === v['1019'].text && { n, day: v['1019'].text };
  }, 'page matches the server');
}
const pressed = async (id) => (await page.locator(id).getAttribute('aria-pressed')) === 'true';
async function setChip(id, on) { if ((await pressed(id)) !== on) await page.click(id); }
// Taps a viewer button that starts a list reload and waits for the reload's status texts.
// A reload is refused while the last one is still ending; then the tap is made once more.
async function reload(id, base, token) {
  for (let tries = 2; ; tries--) {
    const mark = statuses.length;
    await page.click(id);
    try {
      await until(() => sawStatus(mark, 'Loading...'), `list reload after ${id}`, tries > 1 ? 10000 : WAIT);
      return settled(base, token);
    } catch (e) {
      if (tries <= 1 || !(e instanceof WalkError)) throw e;
    }
  }
}
async function menu(key, ...items) {
  await page.locator('#softkeys button', { hasText: key }).click();
  for (const it of items) await page.locator('#sheetbody .menuitem', { hasText: it }).first().click();
}
// Visible controls smaller than a fingertip (44 x 44 px), by name and size.
const smallTargets = () => page.evaluate(() => [...document.querySelectorAll('button, input, [role=option], a')]
  .map((e) => [e.id || e.textContent.trim(), e.getBoundingClientRect()])
  .filter(([, r]) => r.width > 0 && (r.width < 44 || r.height < 44))
  .map(([n, r]) => `${n} ${Math.round(r.width)}x${Math.round(r.height)}`));
// Card and detail show the same words; the card runs them into one line.
const flat = (s) => s.replace(/\s+\u2014\s+|\s+/g, ' ').trim();
const shot = (name) => page.screenshot({ path: path.join(shotDir, name) });

async function walk() {
  const pixelPort = await startPixelListener();
  makeRoot(pixelPort);
  const { base, url, token } = await startProgram();
  ok(`varnox demo listens on ${base}`);
  await collectStatuses(base, token);

  browser = await chromium.launchPersistentContext(path.join(tmp, 'profile'), {
    executablePath: '/usr/bin/chromium', headless: true, viewport: { width: 390, height: 844 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  page = browser.pages()[0] || await browser.newPage();
  page.on('pageerror', (e) => pageErrors.push(e.message));
  await page.goto(url);
  check(!page.url().includes('token='), 'the token stays in the address bar');

  // Phone: the viewer lists today's messages.
  const first = await until(async () => { const v = await settled(base, token); return v.n > 0 && v; },
    'today lists messages');
  check(await page.locator('#c1022').inputValue() === '0', 'day field starts at 0');
  check(await pressed('#c1012') && !(await pressed('#c1011')), 'the viewer opens with Normal only');
  ok(`phone: the viewer lists ${first.n} messages of ${first.day}`);

  // Both filters: the probe message shows up once the scan has logged it.
  await setChip('#c1011', true);
  await reload('#c1018', base, token);
  const probe = page.locator('#c1010 > li', { hasText: /sandbox probe/i });
  await until(async () => (await probe.count()) === 1, 'the probe message is listed');
  // The scan logs store after store: the filters are compared once every mail of today is listed.
  const all = await until(async () => {
    const v = await reload('#c1018', base, token);
    const lines = (await api(base, token, '/api/window')).dialogs['120'].controls['1010'].lines;
    const sms = lines.filter((l) => /^_+\d+\. SMS_/.test(l)).length;
    return v.n === sms + todaysMail() && v;
  }, 'every message of today is listed');

  // Security: the probe's markup renders in the frame, its script and its remote image do not act.
  await probe.click();
  await until(async () => !(await page.locator('#listcol').isVisible()), 'a tap opens the page screen');
  const frame = page.frameLocator('#framebox iframe');
  await frame.locator('h1', { hasText: /sandbox probe/i }).waitFor({ state: 'visible', timeout: WAIT });
  const pageFrame = page.frames().find((f) => f !== page.mainFrame());
  check(pageFrame && (await pageFrame.title()) !== 'ran', 'the message script ran');
  check(await page.locator('#framebox iframe').getAttribute('sandbox') === '', 'the frame is fully sandboxed');
  check(pixelHits === 0, `the remote image was fetched ${pixelHits} times`);
  ok('security: the probe heading is visible, its script did not run, its image was not fetched');
  await page.click('#back');
  await until(() => page.locator('#listcol').isVisible(), 'back shows the list');

  // Filters: spam only plus normal only make both; both cleared fall back to Normal.
  await setChip('#c1012', false);
  const spam = await reload('#c1018', base, token);
  check(await pressed('#c1011') && !(await pressed('#c1012')), 'spam-only chips');
  await setChip('#c1011', false);
  await setChip('#c1012', true);
  const normal = await reload('#c1018', base, token);
  check(spam.n + normal.n === all.n, `spam ${spam.n} + normal ${normal.n} != both ${all.n}`);
  await setChip('#c1012', false);
  const fallback = await reload('#c1018', base, token);
  // The reload checks Normal on the server; the page follows with its next fetch.
  await until(async () => (await pressed('#c1012')) && !(await pressed('#c1011')),
    'with both cleared Normal is checked again');
  check(fallback.n === normal.n, `both cleared lists ${fallback.n}, normal only ${normal.n}`);
  ok(`filters: spam ${spam.n} + normal ${normal.n} = both ${all.n}; none checked lists normal`);

  // "+" and "-" move the day; "-" at today does nothing.
  const plus = await reload('#c1027', base, token);
  check(plus.day !== normal.day && await page.locator('#c1022').inputValue() === '1', '"+" goes one day back');
  const minus = await reload('#c1029', base, token);
  check(minus.day === normal.day && await page.locator('#c1022').inputValue() === '0', '"-" comes back to today');
  const [answer] = await Promise.all([
    page.waitForResponse((r) => r.url().endsWith('/api/command')), page.click('#c1029')]);
  check(answer.ok(), `"-" at today answered ${answer.status()}`);
  check((await settled(base, token)).day === normal.day, '"-" at today changed the day');
  check(await page.locator('#c1022').inputValue() === '0', '"-" at today changed the day field');
  await shot('phone-viewer.png');
  check((await smallTargets()).length === 0, `small touch targets: ${await smallTargets()}`);
  ok(`day stepper: "+" shows ${plus.day}, "-" shows ${minus.day}, "-" at today stays`);

  // Selecting a message fills the detail and shows its page.
  const cards = await cardTexts();
  const pick = Math.max(0, cards.findIndex((c) => !/sandbox probe/i.test(c.msg)));
  await page.locator('#c1010 > li').nth(pick).click();
  await until(async () => (await page.locator('#c1014').textContent()) === cards[pick].from, 'Sender filled');
  check(await page.locator('#c1025').textContent() === cards[pick].time, 'Time filled');
  check(flat(await page.locator('#c1017').textContent()) === flat(cards[pick].msg), 'Message filled');
  const why = (await api(base, token, '/api/window')).dialogs['120'].controls['1101'].text;
  check(why !== '' && (await page.locator('#c1101').textContent()) === why, `the why line shows "${why}"`);
  await until(async () => ((await frame.locator('body').textContent({ timeout: 2000 })) || '').trim() !== '',
    'the page frame has content');
  await shot('phone-page.png');
  ok(`select: ${cards[pick].from} fills Sender, Time, Message, the why line and the page`);
  await page.click('#back');
  await until(() => page.locator('#listcol').isVisible(), 'back shows the list');

  // Update: the re-check announces itself on the status line and clears it.
  let mark = statuses.length;
  await menu('Use', 'Action', 'Update');
  await until(() => sawStatus(mark, 'Updating database...'), 'status "Updating database..." then ""');
  ok('update: status events "Updating database..." then ""');

  // Desktop: two columns, keyboard through the list, Enter shows the page.
  await page.setViewportSize({ width: 1280, height: 800 });
  await settled(base, token);
  check(await page.locator('#listcol').isVisible() && await page.locator('#pagecol').isVisible(), 'two columns');
  await page.locator('#c1010').focus();
  // A tap selects on the desktop without leaving the list; the arrow then moves on from it.
  const n = await cardCount();
  await page.locator('#c1010 > li').nth(0).click();
  await until(async () => (await cardTexts())[0].selected, 'a tap selects the first message');
  check(await page.locator('#listcol').isVisible(), 'a tap on the desktop keeps the list');
  if (n > 1) {
    await page.locator('#c1010').focus();
    await page.keyboard.press('ArrowDown');
    await until(async () => (await cardTexts())[1].selected, 'ArrowDown selects the next message');
    check(await page.locator('#c1014').textContent() === (await cardTexts())[1].from, 'the arrow fills Sender');
  }
  // An e-mail's detail: its subject, then the text after the header block; the model keeps it all.
  const mail = page.locator('#c1010 > li', { hasText: /E-MAIL/ }).filter({ hasNotText: /sandbox probe/i }).first();
  if (await mail.count()) {
    await mail.click();
    const held = await until(async () => {
      const c = (await api(base, token, '/api/window')).dialogs['120'].controls;
      return c['1010'].selected >= 0 && /E-MAIL/.test(c['1010'].lines[c['1010'].selected]) && c['1017'].text;
    }, 'an e-mail is selected');
    const subject = held.slice(0, held.indexOf('  '));
    await until(async () => (await page.locator('#c1017 .subject').textContent()) === subject, 'the detail heads with the subject');
    const shown = await page.locator('#c1017').textContent();
    check(/\nmessage-id:/i.test(held) && !/message-id:/i.test(shown), `the detail shows the header block: ${shown}`);
    check(flat(shown) === flat(await mail.locator('.msg').textContent()), 'the detail and the card differ');
    check(await page.locator('#c1017').evaluate((e) => getComputedStyle(e).overflowY) === 'auto', 'detail not scrollable');
    // A reload moves nothing: the page frame stays where it is and the card stays marked throughout.
    await page.evaluate(() => {
      const seen = window.walkSeen = new Set();
      const look = () => seen.add(`${document.getElementById('framebox').offsetTop}/${document.querySelectorAll('#c1010 [aria-selected=true]').length}`);
      look();
      new MutationObserver(look).observe(document.body, { subtree: true, childList: true, characterData: true, attributes: true });
    });
    await reload('#c1018', base, token);
    const looks = await page.evaluate(() => [...window.walkSeen]);
    check(looks.length === 1, `the reload moved the page or the selection: ${looks}`);
    ok('e-mail detail: subject, then the text after the headers; the model keeps the header block; a reload moves nothing');
  }
  await shot('desktop-viewer.png');
  // Dark colours follow the system's scheme.
  const bg = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
  const lightBg = await bg();
  await page.emulateMedia({ colorScheme: 'dark' });
  check((await bg()) !== lightBg, 'the dark scheme keeps the light background');
  await shot('dark-viewer.png');
  await page.emulateMedia({ colorScheme: 'light' });
  await page.locator('#c1010').focus();
  await page.keyboard.press('Enter');
  await until(async () => !(await page.locator('#listcol').isVisible()), 'Enter shows the page');
  await page.click('#back');
  await until(() => page.locator('#listcol').isVisible(), 'back shows the list');
  ok(`desktop: two columns, a tap and ArrowDown select (${n} listed), Enter shows the page, back returns`);

  // About opens dialog 117 and closes, by its close control and by Escape.
  await menu('Help', 'About');
  await until(() => page.locator('#modal').isVisible(), 'the about box opens');
  check((await api(base, token, '/api/window')).modal === '117', 'the server holds the about box');
  // Laid out as a card: the product name as a heading, each caption beside its value, Close full width.
  const about = (await api(base, token, '/api/window')).dialogs['117'].controls;
  check(await page.locator('#modal h3').textContent() === about['20004'].text, 'the product name is the heading');
  const pairs = await page.locator('#modal dl.pairs > div').evaluateAll((rows) =>
    rows.map((r) => [r.querySelector('dt').textContent, r.querySelector('dd').textContent]));
  const want = [['40013', '20009'], ['20002', '20003'], ['20010', '20005']].map(([l, v]) => [about[l].text, about[v].text]);
  check(JSON.stringify(pairs) === JSON.stringify(want), `about pairs ${JSON.stringify(pairs)}`);
  check(/Kestrove/.test(await page.locator('#modal').textContent()), 'the about box names the maker');
  check(await page.locator('#modal a').count() === 0, 'the about box links out of the window');
  const close = page.locator('#modal .btn.primary', { hasText: about['20013'].text });
  check(await close.evaluate((b) => b.offsetWidth >= b.closest('.modalbody').clientWidth - 48), 'Close spans the card');
  await shot('about.png');
  check((await smallTargets()).length === 0, `small touch targets: ${await smallTargets()}`);
  await page.click('#modal .pagebar .iconbtn');
  await until(async () => !(await page.locator('#modal').isVisible()), 'the close control ends it');
  await menu('Help', 'About');
  await until(() => page.locator('#modal').isVisible(), 'the about box opens again');
  await page.keyboard.press('Escape');
  await until(async () => (await api(base, token, '/api/window')).modal === null, 'Escape ends it');
  await menu('Help', 'About');
  await close.click();
  await until(async () => (await api(base, token, '/api/window')).modal === null, 'Close ends it');
  ok('about: a card of heading and pairs; closes by its control, by Escape and by Close');

  await ruleFromMessage(base, token);
  await sendSms(base, token);
  await openHelp(base, token);
  await switchLanguage(base, token);

  // Hide leaves the status icon; the icon brings the window back.
  await menu('Help', 'Hide');
  await until(() => page.locator('#tray').isVisible(), 'Hide shows the icon');
  check(!(await page.locator('#app').isVisible()), 'Hide hides the window');
  check((await api(base, token, '/api/window')).dialogs.main.minimized === true, 'the server minimised it');
  await shot('hidden.png');
  await page.click('#tray');
  await until(() => page.locator('#app').isVisible(), 'the icon brings the window back');
  ok('hide: the icon shows, its tap brings the window back');

  // Exit ends the process and the page says so.
  expectAlive = false;
  await menu('Help', 'Exit');
  await Promise.race([exited, sleep(WAIT)]);
  check(exitCode !== null, 'varnox still runs 60 s after Exit');
  check(exitCode === 0, `varnox exited with ${exitCode}`);
  await until(() => page.locator('#ended').isVisible(), 'the page says Varnox has ended');
  ok('exit: varnox ended with status 0 and the page says so');
  check(pixelHits === 0, `the remote image was fetched ${pixelHits} times by the end`);
  check(pageErrors.length === 0, `script errors in the page: ${pageErrors.join('; ')}`);
}

// Each of the next steps starts with no dialog open, whatever the step before it left.
async function noDialog(base, token) {
  await until(async () => {
    const m = await api(base, token, '/api/window');
    if (!m.modal && !m.messageBox) return true;
    await page.keyboard.press('Escape');
    return false;
  }, 'every dialog closed');
}
const modalIs = async (base, token, key) => (await api(base, token, '/api/window')).modal === key;
const modalButton = (text) => page.locator('#modal .btn', { hasText: text });

// A rule from a message in two taps: the probe, which no rule marks, is spam after the re-check.
async function ruleFromMessage(base, token) {
  await noDialog(base, token);
  await setChip('#c1011', true);
  await setChip('#c1012', true);
  await reload('#c1018', base, token);
  const probe = page.locator('#c1010 > li', { hasText: /sandbox probe/i });
  const pickProbe = async () => {
    await probe.click();
    return until(async () => {
      const v = (await api(base, token, '/api/window')).dialogs['120'].controls;
      return /sandbox probe/i.test(v['1017'].text) && v['1101'].text && v;
    }, 'the probe is selected with a why line');
  };
  const before = await pickProbe();
  check(await page.locator('#c1101').textContent() === before['1101'].text, 'the page shows the why line');
  await menu('Use', 'Rules');
  await until(() => modalIs(base, token, '119'), 'Rules opens the rule editor');
  const rules = (await api(base, token, '/api/window')).dialogs['119'].controls;
  await until(async () => (await page.locator('#modal .rulecards .card').count()) === rules['1026'].lines.length / 3,
    'a card per rule');
  check(await page.locator('#modal .pagebar .badge').textContent() === rules['1038'].text, 'the count badge');
  check(await page.locator('#f-119-1031').inputValue() === before['1014'].text, 'Sender is not pre-filled');
  check(/sandbox probe/i.test(await page.locator('#f-119-1032').inputValue()), 'Message is not pre-filled');
  await shot('rules.png');
  check((await smallTargets()).length === 0, `small touch targets: ${await smallTargets()}`);
  await Promise.all([page.waitForResponse((r) => r.url().endsWith('/api/command')), modalButton(rules['1033'].text).click()]);
  const after = await api(base, token, '/api/window');
  check(after.messageBox === null && after.modal === '119', `Add showed ${JSON.stringify(after.messageBox)}`);
  const mark = statuses.length;
  await modalButton(rules['20013'].text).click();
  await until(() => modalIs(base, token, null), 'Close ends the rule editor');
  await until(() => sawStatus(mark, 'Updating database...'), 'closing after Add re-checks: "Updating database..." then ""');
  await setChip('#c1012', false);
  await reload('#c1018', base, token);
  await until(async () => (await probe.count()) === 1, 'the probe is listed under Spam');
  const now = await pickProbe();
  const why = await page.locator('#c1101').textContent();
  check(why === now['1101'].text && why !== before['1101'].text && /\d/.test(why), `the why line names no rule: ${why}`);
  ok(`rules: the probe made a rule in two taps, the re-check files it as spam; why: ${why}`);
}

// Send: digits only in the recipient, the status line says "Sent.", the spool holds the message.
async function sendSms(base, token) {
  await noDialog(base, token);
  await menu('Use', 'Action', 'Send');
  await until(() => modalIs(base, token, '121'), 'Send opens the send dialog');
  const c = (await api(base, token, '/api/window')).dialogs['121'].controls;
  const to = page.locator('#f-121-1000');
  check(await to.getAttribute('inputmode') === 'tel', 'the recipient does not ask for the number keypad');
  await to.fill('');
  await to.pressSequentially('4915a55-50123');
  check(await to.inputValue() === '49155550123', `the recipient took ${await to.inputValue()}`);
  await page.locator('#f-121-1002').fill('Walk: is the spool there?');
  await page.locator('[data-ctl="121/1009"]').check(); // Confirmation: a delivery report
  await modalButton(c['1024'].text).click();
  await until(async () => (await page.locator('#modal .statusline').textContent()) === 'Sent.', 'the status line says "Sent."');
  check(await page.locator('#modal .statusline').getAttribute('aria-live') === 'polite', 'the status line is not announced');
  const outgoing = path.join(root, 'spool', 'outgoing');
  const sent = fs.readdirSync(outgoing).map((f) => fs.readFileSync(path.join(outgoing, f), 'utf8'))
    .filter((t) => /^To: 49155550123$/m.test(t));
  check(sent.length === 1 && /^Report: yes$/m.test(sent[0]) && /is the spool there\?$/.test(sent[0]),
    `spool files for the number: ${JSON.stringify(sent)}`);
  await shot('send.png');
  await modalButton(c['20013'].text).click();
  await until(() => modalIs(base, token, null), 'Close ends the send dialog');
  ok('send: digits only, "Sent.", one spool file To: the number with a delivery report');
}

// Help: the window offers the page, which opens in a tab of its own on a tap.
async function openHelp(base, token) {
  await noDialog(base, token);
  const version = (await api(base, token, '/api/window')).dialogs.main.helpVersion;
  await menu('Help', 'Help');
  await until(async () => (await api(base, token, '/api/window')).dialogs.main.helpVersion > version, 'help found');
  await until(() => page.locator('#helplink').isVisible(), 'the page offers "Open help"');
  const [tab] = await Promise.all([browser.waitForEvent('page'), page.click('#helplink')]);
  await tab.waitForLoadState();
  check(new URL(tab.url()).pathname === '/help', `the help tab shows ${tab.url()}`);
  const heading = ((await tab.locator('h1').first().textContent({ timeout: WAIT })) || '').trim();
  check(/varnox/i.test(heading), `the help heading: ${heading}`);
  await tab.close();
  check(!(await page.locator('#help').isVisible()), 'the offer stays after the tap');
  ok(`help: "Open help" opens /help in a new tab, headed "${heading}"`);
}

// Shipped texts of one language: the menu's top-level words and the file's texts by identifier.
const share = path.join(path.dirname(new URL(import.meta.url).pathname), '..', '..', 'share');
function shipped(abbr) {
  const texts = {};
  for (const line of fs.readFileSync(path.join(share, 'emn', `Varnox.emn.${abbr}`), 'utf8').split('\n')) {
    const m = /;ID=(\d+);TEXT="(.*)"\s*$/.exec(line);
    if (m) texts[m[1]] = m[2];
  }
  return texts;
}
const softkeys = () => page.locator('#softkeys button').allTextContents();
const viewerLabels = async () => [await page.locator('#c1020').textContent(), await page.locator('#c1018').textContent()];

// Language: the list of display names, a tap marks a name, Select applies it; a missing file says so.
async function chooseLanguages(base, token, helpKey, languageItem, names, apply = true) {
  await noDialog(base, token);
  await menu(helpKey, languageItem);
  await until(() => modalIs(base, token, '118'), 'the language dialog opens');
  const list = page.locator('#modal [data-ctl="118/20001"]');
  for (const name of names) {
    const option = list.getByRole('option', { name, exact: true });
    await option.click();
    await until(async () => (await option.getAttribute('aria-selected')) === 'true', `${name} is marked`);
  }
  const c = (await api(base, token, '/api/window')).dialogs['118'].controls;
  check(JSON.stringify(c['20001'].selected.map((i) => c['20001'].lines[i])) === JSON.stringify(names),
    `the server holds ${JSON.stringify(c['20001'].selected)}`);
  if (!apply) return c;
  await Promise.all([page.waitForResponse((r) => r.url().endsWith('/api/command')), modalButton(c['40009'].text).click()]);
  return c;
}
async function finishLanguage(base, token) {
  const c = (await api(base, token, '/api/window')).dialogs['118'].controls;
  await modalButton(c['20015'].text).click();
  await until(() => modalIs(base, token, null), 'Ok ends the language dialog');
}

async function switchLanguage(base, token) {
  await page.setViewportSize({ width: 390, height: 844 });
  const english = { keys: await softkeys(), labels: await viewerLabels() };
  const deu = shipped('deu');
  const deuKeys = JSON.parse(fs.readFileSync(path.join(share, 'menus', 'deu.json'), 'utf8')).map((k) => k.text);
  const c = await chooseLanguages(base, token, 'Help', 'Language', ['German'], false);
  const lines = c['20001'].lines;
  const sorted = [...lines].sort((a, b) => (a < b ? -1 : a > b ? 1 : 0));
  check(lines.length === 143 && JSON.stringify(lines) === JSON.stringify(sorted), 'the display names are not sorted');
  const shown = await page.locator('#modal [data-ctl="118/20001"] [role=option]').allTextContents();
  check(JSON.stringify(shown) === JSON.stringify(lines), `the page lists ${shown.length} names`);
  // At phone size the list scrolls by itself: Select and Ok stay in view below it.
  const view = page.viewportSize();
  for (const id of ['40009', '20015']) {
    const box = await modalButton(c[id].text).boundingBox();
    check(box && box.y >= 0 && box.y + box.height <= view.height, `${c[id].text} is out of view`);
  }
  check((await smallTargets()).length === 0, `small touch targets: ${await smallTargets()}`);
  await shot('language.png');
  await Promise.all([page.waitForResponse((r) => r.url().endsWith('/api/command')), modalButton(c['40009'].text).click()]);
  await finishLanguage(base, token);
  await until(async () => JSON.stringify(await softkeys()) === JSON.stringify(deuKeys), 'the soft keys read German');
  await until(async () => JSON.stringify(await viewerLabels()) === JSON.stringify([deu['1020'], deu['1018']]),
    'the viewer labels read German');
  await until(async () => (await page.locator('#done').textContent()) === deu['1103'], 'the Page button reads German');
  await shot('german-viewer.png');
  // A message box in German: Add with neither Sender nor Message.
  await menu(deuKeys[0], JSON.parse(fs.readFileSync(path.join(share, 'menus', 'deu.json'), 'utf8'))[0].items
    .find((i) => i.id === 40016).text);
  await until(() => modalIs(base, token, '119'), 'the rule editor opens');
  await page.locator('#f-119-1031').fill('');
  await page.locator('#f-119-1032').fill('');
  await modalButton(deu['1033']).click();
  await until(() => page.locator('#alert').isVisible(), 'Add with nothing shows a message box');
  check(await page.locator('#alertcap').textContent() === deu['123'] && await page.locator('#alerttext').textContent() === deu['120'],
    `the box reads ${await page.locator('#alert').textContent()}`);
  await page.locator('#alertbtns .btn').first().click();
  await until(async () => (await api(base, token, '/api/window')).messageBox === null, 'the answer ends the box');
  await modalButton(deu['20013']).click();
  await until(() => modalIs(base, token, null), 'the rule editor closes');
  ok(`language: German soft keys ${deuKeys.join(', ')}, labels and the message box "${deu['120']}"`);

  // Back to English the same way; then a language that has no file, with English.
  await chooseLanguages(base, token, deuKeys[1], 'Sprache', ['English']);
  await finishLanguage(base, token);
  await until(async () => JSON.stringify(await softkeys()) === JSON.stringify(english.keys), 'the soft keys read English');
  await until(async () => JSON.stringify(await viewerLabels()) === JSON.stringify(english.labels), 'the labels read English');
  await until(async () => (await page.locator('#done').textContent()) === 'Page', 'the Page button reads English again');
  await page.setViewportSize({ width: 1280, height: 800 });
  await chooseLanguages(base, token, english.keys[1], 'Language', ['Albanian', 'English']);
  await until(() => page.locator('#alert').isVisible(), 'a missing file shows a message box');
  check(await page.locator('#alertcap').textContent() === 'Information'
    && await page.locator('#alerttext').textContent() === 'The required file is not available.',
    `the box reads ${await page.locator('#alert').textContent()}`);
  await page.locator('#alertbtns .btn').first().click();
  await until(async () => (await api(base, token, '/api/window')).messageBox === null, 'the answer ends the box');
  await finishLanguage(base, token);
  check(JSON.stringify(await softkeys()) === JSON.stringify(english.keys), 'English stays after Albanian failed');
  ok('language: back to English; Albanian with English says Albanian has no file and English stays');
}

async function cleanup() {
  if (browser) await browser.close().catch(() => {});
  if (program && exitCode === null) program.kill('SIGTERM');
  if (pixelServer) pixelServer.close();
  fs.rmSync(tmp, { recursive: true, force: true });
}

try {
  await walk();
  await cleanup();
  console.log(`${step} passed, 0 failed`);
  process.exit(0);
} catch (e) {
  console.log(`not ok ${step + 1} - ${e instanceof WalkError ? e.message : e.stack}`);
  if (page) await shot('failure.png').catch(() => {});
  if (stderrTail) console.log(stderrTail.split('\n').map((l) => `# ${l}`).join('\n'));
  await cleanup();
  console.log(`${step} passed, 1 failed`);
  process.exit(1);
}
