'use strict';
// The window: renders the server's control model and sends taps back as commands.
// The server owns all state; the page keeps only what the user typed but has not sent yet.
(() => {
  const $ = (id) => document.getElementById(id);
  const VIEWER = '120';
  const LINES_PER_MESSAGE = 4;
  const wide = matchMedia('(min-width: 901px)');
  let model = null;
  let ended = false;
  let shownPage = -1;      // pageVersion the frame shows
  let seenHelp = null;     // helpVersion at the first model, so only new help offers a link
  let detailHeader = '';   // list header line of the message the detail shows
  let remembered = null;   // the selected message's lines, to keep it across list reloads
  let sheetPath = null;    // indexes into main.menu while a menu sheet is open
  const dirty = new Set(); // "dialog/control" edits not yet sent

  const ctl = (d, id) => (d && d.controls && d.controls[id]) || {};
  const text = (d, id, fallback) => {
    const t = ctl(d, id).text;
    return typeof t === 'string' && t !== '' ? t : fallback;
  };
  // The page's own words: the main window's labels, which a language file sets; English until the model comes.
  const WORDS = {
    1103: 'Page', 1104: 'Done: show the page', 1105: 'Reconnecting\u2026', 1106: 'Help is ready',
    1107: 'Open help', 1108: 'Dismiss', 1109: 'Varnox has ended',
    1110: 'The program is no longer running. Start it again to see the messages.', 1111: 'Back to the list',
    1112: 'Close', 1113: 'Show Varnox', 1114: 'Messages', 1115: 'Selected message', 1116: 'Menu',
    1117: 'Listed day', 1118: 'Messages listed', 1119: 'One day nearer', 1120: 'One day further back',
    1121: 'Select a message to see its page.', 1122: 'No messages on this day.', 1123: 'Message page',
    1124: 'Back', 1125: 'Count', 1126: 'Message',
  };
  const word = (id) => text(model && model.dialogs && model.dialogs.main, String(id), WORDS[id]);

  // ---- requests ----
  let issued = 0;     // requests sent, numbered
  let drawn = 0;      // number of the request whose answer the page shows
  let statusSeq = 0;  // status events received; an answer older than the last one keeps the line
  async function api(path, body) {
    const mine = ++issued;
    const seq = statusSeq;
    const opt = { credentials: 'same-origin', headers: { Accept: 'application/json' } };
    if (body !== undefined) {
      opt.method = 'POST';
      opt.headers['Content-Type'] = 'application/json';
      opt.body = JSON.stringify(body);
    }
    const res = await fetch(path, opt);
    if (res.status === 409) { await refresh(); return null; } // a dialog or message box is open: show it
    if (!res.ok) throw new Error(path + ': ' + res.status);
    const m = await res.json();
    if (mine > drawn) { // answers can overtake each other: never draw an older state over a newer one
      drawn = mine;
      render(m, seq === statusSeq);
    }
    return m;
  }
  // Bursts of change events cost one fetch in flight and at most one after it.
  let refreshing = null;
  let again = false;
  function refresh() {
    if (refreshing) { again = true; return refreshing; }
    refreshing = api('/api/window').catch(() => null).finally(() => {
      refreshing = null;
      if (again) { again = false; refresh(); }
    });
    return refreshing;
  }

  function controlsOf(key) {
    const out = {};
    if (key === VIEWER) { // the day field and the two filter boxes, as the user left them
      out['1022'] = { text: $('c1022').value };
      for (const id of ['1011', '1012']) out[id] = { checked: $('c' + id).getAttribute('aria-pressed') === 'true' };
      return out;
    }
    const d = model && model.dialogs[key];
    if (!d || !d.controls) return out;
    for (const [id, c] of Object.entries(d.controls)) {
      const el = document.querySelector(`[data-ctl="${key}/${id}"]`);
      if (c.kind === 'edit' && el) out[id] = { text: el.value };
      else if (c.kind === 'check') out[id] = { checked: el ? el.checked : !!c.checked };
      else if (c.kind === 'list' && typeof c.selected === 'number') out[id] = { selected: c.selected };
      else if (c.kind === 'multilist' && Array.isArray(c.selected)) out[id] = { selected: c.selected };
    }
    return out;
  }
  function command(dialog, id) {
    const body = { dialog, id: Number(id), controls: controlsOf(dialog) };
    for (const k of [...dirty]) if (k.startsWith(dialog + '/')) dirty.delete(k);
    return api('/api/command', body).catch(() => {
      if (dialog === 'main' && Number(id) === 40008) showEnded(); // the program went away
      return null;
    });
  }
  const exit = () => command('main', 40008).then((m) => { if (m) showEnded(); });
  // A selection refills the dialog's fields from the program: what was typed there gives way.
  const forget = (dialog) => { for (const k of [...dirty]) if (dialog !== VIEWER && k.startsWith(dialog + '/')) dirty.delete(k); };
  const select = (dialog, control, index) => {
    forget(dialog);
    return api('/api/select', { dialog, control: Number(control), index }).catch(() => null);
  };
  const selectMany = (dialog, control, indexes) => {
    forget(dialog);
    return api('/api/select', { dialog, control: Number(control), indexes }).catch(() => null);
  };

  // ---- events ----
  let source = null;
  function listen() {
    if (ended) return;
    source = new EventSource('/api/events', { withCredentials: true });
    source.addEventListener('open', () => { $('conn').hidden = true; refresh(); });
    source.addEventListener('status', (e) => {
      try { statusSeq++; setStatus(JSON.parse(e.data).text || ''); } catch (_) { /* malformed event: ignore */ }
    });
    source.addEventListener('changed', refresh);
    source.addEventListener('bye', showEnded);
    source.addEventListener('error', () => {
      if (ended) return;
      $('conn').hidden = false;
      if (source.readyState === EventSource.CLOSED) { // refused: the browser gives up, so retry
        source = null;
        setTimeout(listen, 2000);
      }
    });
  }
  function showEnded() {
    ended = true;
    if (source) source.close();
    $('conn').hidden = true;
    $('app').hidden = true;
    for (const id of ['sheet', 'modal', 'alert', 'tray']) $(id).hidden = true;
    $('ended').hidden = false;
  }
  function setStatus(t) {
    const el = $('c1021');
    el.textContent = t;
    el.hidden = t === '';
    const d = model && model.dialogs[VIEWER];
    if (d && d.controls && d.controls['1021']) d.controls['1021'].text = t;
  }

  // ---- rendering ----
  function render(m, statusCurrent) {
    if (!m || !m.dialogs) return;
    model = m;
    renderWords();
    if (ended) return;
    const main = m.dialogs.main || {};
    const hidden = !!main.minimized;
    $('app').hidden = hidden;
    $('tray').hidden = !hidden;
    renderViewer(m.dialogs[VIEWER], main, statusCurrent);
    renderSoftkeys(main.menu || []);
    renderModal(m);
    renderAlert(m.messageBox);
    inertBehind();
    const hv = main.helpVersion || 0;
    if (seenHelp === null) seenHelp = hv;
    if (hv > seenHelp) { seenHelp = hv; $('help').hidden = false; }
  }

  // A dialog without a title control is named as the menu item that opens it, so its
  // title follows the language of the menu.
  const OPENED_BY = { 117: 40006, 118: 40005, 119: 40016, 121: 40010 };
  function menuText(id, items = (model && model.dialogs && model.dialogs.main && model.dialogs.main.menu) || []) {
    for (const it of items) {
      if (it.id === id && it.text) return it.text;
      const inner = it.items ? menuText(id, it.items) : '';
      if (inner) return inner;
    }
    return '';
  }

  // Text, aria labels and titles marked with a word's identifier, and the ones made on the fly.
  function renderWords() {
    for (const [attr, set] of [['w', (el, t) => { if (el.textContent !== t) el.textContent = t; }],
      ['wa', (el, t) => el.setAttribute('aria-label', t)], ['wt', (el, t) => { el.title = t; }]]) {
      for (const el of document.querySelectorAll(`[data-${attr}]`)) set(el, word(el.dataset[attr]));
    }
    for (const el of document.querySelectorAll('#modal [data-ctl$="/close"]')) el.setAttribute('aria-label', word(1112));
    for (const el of document.querySelectorAll('#modal .pagebar .badge')) el.setAttribute('aria-label', word(1125));
    for (const el of document.querySelectorAll('#framebox iframe')) el.title = word(1123);
  }

  function setText(id, t) { const el = $(id); if (el.textContent !== t) el.textContent = t; }

  function renderViewer(d, main, statusCurrent) {
    const pageMode = !d || d.visible === false || !!d.minimized;
    document.body.classList.toggle('pagemode', pageMode);
    if (!d) return;
    setText('c1019', text(d, '1019', ''));
    const count = text(d, '1037', '');
    setText('c1037', count);
    $('c1037').hidden = count === '';
    if (statusCurrent) setStatus(text(d, '1021', ''));
    for (const [id, dflt] of [['1020', 'Messages from Today (in Days)'], ['1015', 'Sender'],
      ['1023', 'Time'], ['1016', 'Message'], ['1102', 'Why'], ['1027', '+'], ['1029', '\u2212'], ['1018', 'Update']]) {
      setText('c' + id, text(d, id, dflt));
    }
    for (const id of ['1011', '1012']) {
      const el = $('c' + id);
      setText('c' + id, text(d, id, id === '1011' ? 'Spam' : 'Normal'));
      if (!dirty.has(VIEWER + '/' + id)) el.setAttribute('aria-pressed', String(!!ctl(d, id).checked));
    }
    const day = $('c1022');
    if (!dirty.has(VIEWER + '/1022')) day.value = text(d, '1022', '0');
    for (const id of ['1014', '1025']) setText('c' + id, text(d, id, ''));
    // Which rule marks the message: a quiet line that is there only while it says something.
    const why = text(d, '1101', '');
    setText('c1101', why);
    setText('c1102', text(d, '1102', 'Why'));
    $('c1101').hidden = $('c1102').hidden = why === '';
    renderDetailMessage(d);
    for (const id of ['1027', '1029', '1018', '1022', '1011', '1012']) $('c' + id).disabled = ctl(d, id).enabled === false;
    renderList(ctl(d, '1010'));
    const pv = main.pageVersion || 0;
    if (pv !== shownPage) showPage(pv);
  }

  function showPage(version) {
    shownPage = version;
    const box = $('framebox');
    const old = box.querySelector('iframe');
    if (old) old.remove();
    $('noframe').hidden = version > 0;
    if (version <= 0) return;
    // A fresh frame per version: the page has no scripts and no same-origin access to reload it.
    const f = document.createElement('iframe');
    f.setAttribute('sandbox', '');
    f.title = word(1123);
    f.src = '/page?v=' + version;
    box.appendChild(f);
  }

  const headerText = (line) => (line || '').replace(/^_+|_+$/g, '').trim();
  // An e-mail's line holds its subject, two blanks and the whole logged message, header
  // block included: the page shows the subject and the text after the headers. A log cut
  // short inside the header block has no text to show.
  function mailParts(header, line) {
    const text = line || '';
    const cut = /E-MAIL/.test(header) ? text.indexOf('  ') : -1;
    if (cut < 0) return null;
    const logged = text.slice(cut + 2).replace(/\r\n?/g, '\n');
    const blank = logged.indexOf('\n\n');
    const body = blank >= 0 ? logged.slice(blank) : /^[\w-]+:/.test(logged) ? '' : logged;
    return { subject: text.slice(0, cut), body: body.replace(/^\s+|\s+$/g, '') };
  }
  function cardText(header, line) {
    const mail = mailParts(header, line);
    if (!mail) return line || '';
    const rest = mail.body.replace(/\s+/g, ' ');
    return rest ? `${mail.subject} \u2014 ${rest}` : mail.subject;
  }
  // The detail shows the same parts as the card, the text with its line breaks.
  function renderDetailMessage(d) {
    const el = $('c1017');
    const t = text(d, '1017', '');
    const c = ctl(d, '1010');
    const at = typeof c.selected === 'number' && c.selected >= 0 ? c.selected - (c.selected % LINES_PER_MESSAGE) : -1;
    // A reload clears the selection but not the detail: keep its look until it is selected again.
    if (at >= 0 && Array.isArray(c.lines)) detailHeader = c.lines[at] || '';
    const mail = mailParts(detailHeader, t);
    const sig = JSON.stringify(mail || t);
    if (el.dataset.sig === sig) return;
    el.dataset.sig = sig;
    el.textContent = '';
    if (!mail) { el.textContent = t; return; }
    const subject = document.createElement('strong');
    subject.className = 'subject';
    subject.textContent = mail.subject;
    el.appendChild(subject);
    if (mail.body) el.append('\n', mail.body);
  }

  function renderList(c) {
    const ul = $('c1010');
    const lines = Array.isArray(c.lines) ? c.lines : [];
    const n = Math.floor(lines.length / LINES_PER_MESSAGE);
    const sel = keepSelection(lines, typeof c.selected === 'number' && c.selected >= 0
      ? Math.floor(c.selected / LINES_PER_MESSAGE) : -1, Math.floor(lines.length / LINES_PER_MESSAGE));
    const spam = Array.isArray(c.spam) ? c.spam : null;
    const scroll = ul.scrollTop;
    const viewer = model && model.dialogs[VIEWER];
    while (ul.children.length > n) ul.lastChild.remove();
    while (ul.children.length < n) ul.appendChild(makeCard(ul.children.length));
    for (let k = 0; k < n; k++) {
      const li = ul.children[k];
      const l = lines.slice(k * LINES_PER_MESSAGE, (k + 1) * LINES_PER_MESSAGE);
      li.querySelector('.hd').textContent = headerText(l[0]);
      li.querySelector('.from').textContent = l[1];
      li.querySelector('.time').textContent = l[2];
      li.querySelector('.msg').textContent = cardText(l[0], l[3]);
      li.setAttribute('aria-selected', String(k === sel));
      li.setAttribute('aria-label', `${headerText(l[0])}, ${l[1]}, ${l[2]}`);
      const verdict = spam ? (spam[k] ? 'spam' : 'normal') : '';
      li.dataset.verdict = verdict;
      const badge = li.querySelector('.verdict');
      badge.hidden = !verdict;
      // The verdict in the words of the viewer's own Spam and Normal filters.
      badge.textContent = verdict === 'spam' ? text(viewer, '1011', 'Spam') : text(viewer, '1012', 'Normal');
    }
    ul.scrollTop = scroll;
    if (sel >= 0) ul.setAttribute('aria-activedescendant', 'card' + sel);
    else ul.removeAttribute('aria-activedescendant');
    $('empty').hidden = n > 0;
  }

  // A reload empties the server's selection; select the same message again if it is still listed.
  // Until the answer comes the card stays marked, so the highlight does not blink.
  function keepSelection(lines, sel, n) {
    if (sel >= 0) { remembered = lines.slice(sel * 4 + 1, sel * 4 + 4).join('\n'); return sel; }
    if (remembered === null || model.modal || model.messageBox) return -1;
    for (let k = 0; k < n; k++) {
      if (lines.slice(k * 4 + 1, k * 4 + 4).join('\n') === remembered) {
        select(VIEWER, '1010', k * LINES_PER_MESSAGE); // kept until an answer shows it selected
        return k;
      }
    }
    remembered = null;
    return -1;
  }

  // The user's pick wins over selecting again what a reload left unselected.
  function choose(k) {
    remembered = null;
    return select(VIEWER, '1010', k * LINES_PER_MESSAGE);
  }

  function makeCard(k) {
    const li = document.createElement('li');
    li.id = 'card' + k;
    li.className = 'card';
    li.setAttribute('role', 'option');
    li.innerHTML = '<div class="top"><span class="hd"></span><span class="verdict" hidden></span></div>' +
      '<div class="who"><span class="from"></span><span class="time"></span></div><div class="msg"></div>';
    li.addEventListener('click', () => pick(k, !wide.matches));
    return li;
  }

  async function pick(k, open) {
    const m = await choose(k);
    // On a phone the page is its own screen: a tap opens it, as on the device.
    if (open && m && !m.modal && !m.messageBox) command('main', 40019);
  }

  function renderSoftkeys(menu) {
    const nav = $('softkeys');
    const sig = JSON.stringify(menu);
    if (nav.dataset.sig !== sig) {
      nav.dataset.sig = sig;
      nav.textContent = '';
      menu.forEach((key, i) => {
        const b = document.createElement('button');
        b.type = 'button';
        b.className = 'softkey';
        b.textContent = key.text;
        b.setAttribute('aria-haspopup', 'menu');
        b.addEventListener('click', () => openSheet([i]));
        nav.appendChild(b);
      });
      if (sheetPath) openSheet(sheetPath);
    }
  }

  function openSheet(path) {
    let node = { items: (model.dialogs.main || {}).menu || [] };
    for (const i of path) node = node.items && node.items[i];
    if (!node || !Array.isArray(node.items)) { closeSheet(); return; }
    sheetPath = path;
    const body = $('sheetbody');
    body.textContent = '';
    const head = document.createElement('div');
    head.className = 'sheethead';
    if (path.length > 1) {
      const back = button('\u2190', () => openSheet(path.slice(0, -1)), 'iconbtn');
      back.setAttribute('aria-label', word(1124));
      head.appendChild(back);
    }
    const h = document.createElement('h2');
    h.textContent = node.text || '';
    head.appendChild(h);
    body.setAttribute('aria-label', node.text || word(1116));
    body.appendChild(head);
    node.items.forEach((it, i) => {
      if (it.separator) { body.appendChild(document.createElement('hr')); return; }
      const sub = Array.isArray(it.items);
      const b = button(it.text + (sub ? ' \u203a' : ''), () => {
        if (sub) { openSheet(path.concat(i)); return; }
        closeSheet();
        if (Number(it.id) === 40008) exit();
        else command('main', it.id);
      }, 'menuitem');
      b.setAttribute('role', 'menuitem');
      if (it.enabled === false) b.disabled = true;
      body.appendChild(b);
    });
    $('sheet').hidden = false;
    placeSheet(path[0]);
    inertBehind();
    const first = body.querySelector('.menuitem');
    if (first && !body.contains(document.activeElement)) first.focus();
  }
  function closeSheet() { sheetPath = null; $('sheet').hidden = true; inertBehind(); }
  // Tab stays inside whatever is on top: the message box, a dialog or a menu sheet.
  function inertBehind() {
    const top = model && (model.messageBox || model.modal);
    $('app').inert = !!top || !$('sheet').hidden;
    $('sheet').inert = !!top;
    $('modal').inert = !!(model && model.messageBox);
  }

  // On the desktop a menu opens above its own key; on a phone it is a bottom sheet.
  function placeSheet(keyIndex) {
    const body = $('sheetbody');
    const key = $('softkeys').children[keyIndex];
    if (!wide.matches || !key) { body.style.left = body.style.right = ''; return; }
    const r = key.getBoundingClientRect();
    const w = Math.min(360, innerWidth - 16);
    const left = Math.max(8, Math.min(innerWidth - w - 8, r.left + r.width / 2 - w / 2));
    body.style.left = left + 'px';
    body.style.right = 'auto';
    body.style.width = w + 'px';
  }

  function button(label, onClick, cls) {
    const b = document.createElement('button');
    b.type = 'button';
    b.className = cls || 'btn';
    b.textContent = label;
    b.addEventListener('click', onClick);
    return b;
  }

  // How a dialog is laid out beyond the server's order. A compact card (the about box): a
  // heading (and the product icon), lead lines, label/value pairs, plain lines and one
  // full-width primary button. A form (rule editor, send): the title from a label with a
  // badge beside it, then panes of rows: cards for a list, a label over its field, switches,
  // a row of buttons, a primary button, a status line; a full-width button at the foot.
  // Controls the table does not place follow in the server's order.
  const LAYOUTS = {
    117: { compact: true, icon: true, heading: 20004, lead: [20008],
      pairs: [[40013, 20009], [20002, 20003], [20010, 20005]], plain: [20006, 20007], primary: 20013 },
    119: { title: 1028, badge: 1038, foot: 20013, panes: [
      [['cards', 1026, 3]],
      [['field', 1015, 1031], ['field', 1016, 1032], ['field', 1017, 1035], ['switch', 1030], ['switch', 1036],
        ['buttons', 1033, 1034]]] },
    121: { foot: 20013, panes: [[['field', 1004, 1000], ['switch', 1009], ['field', 1006, 1002],
      ['primary', 1024], ['status', 1100]]] },
  };

  function laidOut(key, d, order) {
    const lay = LAYOUTS[key];
    const body = document.createElement('div');
    body.className = 'modalbody';
    body.dataset.scroll = 'body';
    const placed = new Set();
    const make = (id) => {
      placed.add(String(id));
      return d.controls && d.controls[id] ? modalControl(key, String(id), ctl(d, id)) : null;
    };
    const group = (cls, ids, into) => {
      const g = document.createElement('div');
      g.className = cls;
      let prev = null;
      for (const id of ids || []) {
        const el = make(id);
        if (!el) continue;
        // A field or list right after a label is named by it.
        if (prev && prev.tagName === 'P' && /^(INPUT|TEXTAREA|UL)$/.test(el.tagName)) {
          prev.id = 'lbl-' + key + '-' + prev.dataset.ctl.split('/')[1];
          el.setAttribute('aria-labelledby', prev.id);
        }
        g.appendChild(el);
        prev = el;
      }
      if (g.children.length) (into || body).appendChild(g);
      return g;
    };
    if (lay && lay.panes) {
      if (lay.title) placed.add(String(lay.title));
      if (lay.badge) placed.add(String(lay.badge));
      const panes = document.createElement('div');
      panes.className = 'panes';
      for (const rows of lay.panes) {
        const pane = document.createElement('div');
        pane.className = 'pane';
        for (const row of rows) {
          const el = formRow(key, d, row, make);
          if (el) pane.appendChild(el);
        }
        if (pane.children.length) panes.appendChild(pane);
      }
      body.appendChild(panes);
    } else if (lay) {
      const hero = group('hero', []);
      if (lay.icon) hero.insertAdjacentHTML('beforeend', '<svg class="logo big" aria-hidden="true"><use href="#logo"/></svg>');
      const h = make(lay.heading);
      if (h) {
        const h3 = document.createElement('h3');
        h3.dataset.ctl = h.dataset.ctl;
        h3.textContent = h.textContent;
        hero.appendChild(h3);
      }
      for (const id of lay.lead || []) { const el = make(id); if (el) hero.appendChild(el); }
      if (hero.children.length) body.appendChild(hero);
      const dl = document.createElement('dl');
      dl.className = 'pairs';
      for (const [label, value] of lay.pairs || []) {
        const dt = make(label);
        const dd = make(value);
        if (!dt || !dd) continue;
        const row = document.createElement('div');
        const [t, v] = [document.createElement('dt'), document.createElement('dd')];
        t.append(...dt.childNodes);
        t.dataset.ctl = dt.dataset.ctl;
        v.append(...dd.childNodes);
        v.dataset.ctl = dd.dataset.ctl;
        row.append(t, v);
        dl.appendChild(row);
      }
      if (dl.children.length) body.appendChild(dl);
      group('plain', lay.plain);
    }
    const primary = lay && lay.primary ? String(lay.primary) : null;
    const foot = lay && lay.foot ? String(lay.foot) : null;
    for (const id of [primary, foot]) if (id) placed.add(id);
    const rest = order.filter((id) => !placed.has(String(id)));
    group(lay ? 'rest' : 'rest full', rest);
    if (primary) {
      const b = make(primary);
      if (b) { b.classList.add('primary', 'wide'); body.appendChild(b); }
    }
    if (foot) {
      const b = make(foot);
      if (b) { b.classList.add('wide', 'foot'); body.appendChild(b); }
    }
    return body;
  }

  // One row of a form layout.
  function formRow(key, d, [kind, ...ids], make) {
    const c = (id) => d.controls && d.controls[id];
    switch (kind) {
      case 'cards': {
        if (!c(ids[0])) return null;
        make(ids[0]); // placed here, drawn as cards
        return cardList(key, String(ids[0]), c(ids[0]), ids[1]);
      }
      case 'field': {
        const [label, field] = ids;
        const input = make(field);
        if (!input) return null;
        make(label);
        const wrap = document.createElement('div');
        wrap.className = 'formfield';
        const l = document.createElement('label');
        l.htmlFor = input.id = 'f-' + key + '-' + field;
        l.dataset.ctl = key + '/' + label;
        l.textContent = text(d, label, '');
        input.removeAttribute('aria-label');
        wrap.append(l, input);
        return wrap;
      }
      case 'switch': return make(ids[0]);
      case 'buttons': {
        const row = document.createElement('div');
        row.className = 'btnrow';
        for (const id of ids) { const b = make(id); if (b) row.appendChild(b); }
        return row.children.length ? row : null;
      }
      case 'primary': {
        const b = make(ids[0]);
        if (b) b.classList.add('primary', 'wide');
        return b;
      }
      case 'status': {
        if (!c(ids[0])) return null;
        make(ids[0]);
        const p = document.createElement('p');
        p.className = 'statusline';
        p.setAttribute('role', 'status');
        p.setAttribute('aria-live', 'polite');
        p.dataset.ctl = key + '/' + ids[0];
        p.textContent = text(d, ids[0], '');
        return p;
      }
      default: return null;
    }
  }

  // A list whose entries span several lines (a rule: header, sender, message) as cards;
  // a tap selects the entry's first line.
  function cardList(key, id, c, per) {
    const ul = document.createElement('ul');
    ul.className = 'cards rulecards';
    ul.setAttribute('role', 'listbox');
    ul.dataset.scroll = key + '/' + id;
    ul.dataset.ctl = key + '/' + id;
    const lines = Array.isArray(c.lines) ? c.lines : [];
    const sel = typeof c.selected === 'number' && c.selected >= 0 ? Math.floor(c.selected / per) : -1;
    for (let k = 0; k * per < lines.length; k++) {
      const l = lines.slice(k * per, (k + 1) * per);
      const li = document.createElement('li');
      li.className = 'card';
      li.setAttribute('role', 'option');
      li.setAttribute('aria-selected', String(k === sel));
      li.tabIndex = 0;
      li.dataset.ctl = `${key}/${id}#${k}`;
      li.setAttribute('aria-label', l.map(headerText).filter(Boolean).join(', '));
      const parts = [['hd', headerText(l[0])], ['from', l[1] || ''], ['msg', l.slice(2).join(' ')]];
      for (const [cls, t] of parts) {
        const div = document.createElement('div');
        div.className = cls;
        div.textContent = t;
        li.appendChild(div);
      }
      const pick = () => select(key, id, k * per);
      li.addEventListener('click', pick);
      li.addEventListener('keydown', (e) => {
        if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); pick(); }
      });
      ul.appendChild(li);
    }
    if (!ul.children.length) {
      const empty = document.createElement('li');
      empty.className = 'muted';
      empty.textContent = '\u2014';
      ul.appendChild(empty);
    }
    return ul;
  }

  // What a render may change in place: the texts of fields and edits and the state of
  // check boxes. Anything else (a list, a caption) draws the dialog anew.
  function shapeOf(d) {
    const controls = {};
    for (const [id, c] of Object.entries(d.controls || {})) {
      if (c.kind === 'edit' || c.kind === 'field') controls[id] = { ...c, text: undefined };
      else if (c.kind === 'check') controls[id] = { ...c, checked: undefined };
      else controls[id] = c;
    }
    return JSON.stringify({ ...d, controls });
  }
  function patchModal(key, d) {
    for (const [id, c] of Object.entries(d.controls || {})) {
      const tag = key + '/' + id;
      const el = document.querySelector(`#modal [data-ctl="${tag}"]`);
      if (!el || dirty.has(tag)) continue;
      if (c.kind === 'edit' && el.value !== (c.text || '')) el.value = c.text || '';
      else if (c.kind === 'check') el.checked = !!c.checked;
      else if (c.kind === 'field' && el.textContent !== (c.text || '')) el.textContent = c.text || '';
    }
  }

  // Any modal dialog: drawn from its controls, laid out by LAYOUTS or in the server's order.
  function renderModal(m) {
    const box = $('modal');
    const key = m.modal;
    const d = key && m.dialogs[key];
    if (!d) { box.hidden = true; box.textContent = ''; box.dataset.key = box.dataset.sig = box.dataset.shape = ''; return; }
    const sig = JSON.stringify(d);
    if (box.dataset.key === key && box.dataset.sig === sig) return; // unchanged: keep focus and edits as they are
    box.dataset.sig = sig;
    const shape = shapeOf(d);
    // Only texts changed (a status line, fields emptied): keep focus, scroll and live regions.
    if (box.dataset.key === key && box.dataset.shape === shape) { patchModal(key, d); return; }
    box.dataset.shape = shape;
    const focused = document.activeElement && document.activeElement.dataset.ctl;
    const unsent = {}; // edits not sent yet survive a re-render
    for (const el of box.querySelectorAll('input, textarea')) {
      if (dirty.has(el.dataset.ctl)) unsent[el.dataset.ctl] = el.type === 'checkbox' ? el.checked : el.value;
    }
    const scrolled = {};
    if (box.dataset.key === key) for (const el of box.querySelectorAll('[data-scroll]')) scrolled[el.dataset.scroll] = el.scrollTop;
    if (box.dataset.key !== key) for (const k of [...dirty]) if (!k.startsWith(VIEWER + '/')) dirty.delete(k);
    box.textContent = '';
    box.dataset.key = key;
    const lay = LAYOUTS[key] || {};
    const card = document.createElement('div');
    card.className = lay.compact ? 'dialog compact' : lay.panes ? 'dialog form' : 'dialog';
    card.dataset.dialog = key;
    const bar = document.createElement('div');
    bar.className = 'pagebar';
    const close = button('\u2715', () => command(key, 2), 'iconbtn');
    close.setAttribute('aria-label', word(1112));
    close.dataset.ctl = key + '/close';
    const h = document.createElement('h2');
    h.id = 'modaltitle';
    h.textContent = (lay.title && text(d, lay.title, '')) || menuText(OPENED_BY[key]) || d.title || '';
    if (lay.title) h.dataset.ctl = key + '/' + lay.title;
    bar.appendChild(h);
    if (lay.badge && d.controls && d.controls[lay.badge]) {
      const b = document.createElement('span');
      b.className = 'badge';
      b.dataset.ctl = key + '/' + lay.badge;
      b.textContent = text(d, lay.badge, '');
      b.setAttribute('aria-label', word(1125));
      bar.appendChild(b);
    }
    bar.appendChild(close);
    const order = Array.isArray(d.order) ? d.order : Object.keys(d.controls || {});
    card.append(bar, laidOut(key, d, order));
    box.appendChild(card);
    for (const [tag, v] of Object.entries(unsent)) {
      const el = box.querySelector(`[data-ctl="${tag}"]`);
      if (el) el[el.type === 'checkbox' ? 'checked' : 'value'] = v;
    }
    for (const el of box.querySelectorAll('[data-scroll]')) if (el.dataset.scroll in scrolled) el.scrollTop = scrolled[el.dataset.scroll];
    box.hidden = false;
    const again = focused && box.querySelector(`[data-ctl="${focused}"]`);
    // A form opens on its close control: a focused field would raise a phone's keyboard at once.
    (again || (!lay.panes && box.querySelector('.btn.primary')) || close).focus({ preventScroll: !!again });
  }

  function modalControl(key, id, c) {
    const tag = key + '/' + id;
    const t = c.text || '';
    let el;
    switch (c.kind) {
      case 'button':
        el = button(t, () => command(key, id), 'btn');
        break;
      case 'check': {
        el = document.createElement('label');
        el.className = 'checkrow';
        const cb = document.createElement('input');
        cb.type = 'checkbox';
        cb.setAttribute('role', 'switch');
        cb.checked = !!c.checked;
        cb.dataset.ctl = tag;
        cb.addEventListener('change', () => dirty.add(tag));
        const span = document.createElement('span');
        span.textContent = t;
        el.append(span, cb);
        break;
      }
      case 'edit': {
        el = document.createElement(c.multiline ? 'textarea' : 'input');
        el.value = t;
        el.setAttribute('aria-label', id);
        el.addEventListener('input', () => dirty.add(tag));
        if (c.digits) digitsOnly(el, t);
        break;
      }
      case 'list': case 'multilist': {
        el = document.createElement('ul');
        el.className = 'choices';
        el.setAttribute('role', 'listbox');
        el.dataset.scroll = tag; // a tap re-renders the dialog: the list stays where the user left it
        const many = c.kind === 'multilist';
        if (many) el.setAttribute('aria-multiselectable', 'true');
        const picked = new Set(Array.isArray(c.selected) ? c.selected : [c.selected]);
        (c.lines || []).forEach((line, i) => {
          const li = button(line, () => {
            if (!many) { select(key, id, i); return; }
            picked.has(i) ? picked.delete(i) : picked.add(i);
            selectMany(key, id, [...picked].sort((a, b) => a - b));
          }, 'choice');
          li.setAttribute('role', 'option');
          li.setAttribute('aria-selected', String(picked.has(i)));
          li.dataset.ctl = tag + '/' + i; // focus comes back to the tapped line
          el.appendChild(li);
        });
        break;
      }
      case 'field':
        el = document.createElement(c.multiline ? 'pre' : 'p');
        el.className = 'field';
        el.textContent = t;
        break;
      default:
        if (!t) return null;
        el = document.createElement('p');
        el.textContent = t;
    }
    if (c.kind !== 'check') el.dataset.ctl = tag;
    if (c.enabled === false && 'disabled' in el) el.disabled = true;
    return el;
  }

  // A phone number field: the keypad for numbers, and typing takes digits only. A leading
  // "+" the program put there (a sender's number) stays.
  function digitsOnly(el, given) {
    el.type = 'text';
    el.inputMode = 'tel';
    el.autocomplete = 'off';
    el.addEventListener('beforeinput', (e) => { // a key that is no digit does nothing
      if (typeof e.data === 'string' && e.data.length === 1 && /\D/.test(e.data)) e.preventDefault();
    });
    el.addEventListener('input', () => { // a paste or a drop keeps its digits
      const plus = given.startsWith('+') && el.value.startsWith('+') ? '+' : '';
      const v = el.value;
      const clean = plus + v.slice(plus.length).replace(/\D+/g, '');
      if (clean === v) return;
      const at = el.selectionStart == null ? clean.length : el.selectionStart - (v.length - clean.length);
      el.value = clean;
      el.setSelectionRange(Math.max(plus.length, at), Math.max(plus.length, at));
    });
  }

  function renderAlert(mb) {
    $('alert').hidden = !mb;
    if (!mb) return;
    setText('alertcap', mb.caption || '');
    setText('alerttext', mb.text || '');
    const btns = $('alertbtns');
    btns.textContent = '';
    (mb.buttons && mb.buttons.length ? mb.buttons : ['OK']).forEach((label, i) => {
      btns.appendChild(button(label, () => command('messagebox', i + 1), i === 0 ? 'btn primary' : 'btn'));
    });
    btns.firstChild.focus();
  }

  // ---- the viewer's own controls ----
  function wire() {
    const viewerCmd = (id) => () => command(VIEWER, id);
    $('c1027').addEventListener('click', viewerCmd(1027));
    $('c1029').addEventListener('click', viewerCmd(1029));
    $('c1018').addEventListener('click', viewerCmd(1018));
    $('done').addEventListener('click', viewerCmd(1));
    $('back').addEventListener('click', () => command('main', 40020));
    $('tray').addEventListener('click', () => command('main', 5000));
    $('helpclose').addEventListener('click', () => { $('help').hidden = true; });
    $('helplink').addEventListener('click', () => { $('help').hidden = true; });
    $('sheetscrim').addEventListener('click', closeSheet);
    const day = $('c1022');
    day.addEventListener('focus', () => day.select());
    day.addEventListener('click', () => day.select()); // a tap places the caret otherwise
    day.addEventListener('input', () => dirty.add(VIEWER + '/1022'));
    day.addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); command(VIEWER, 1018); } });
    for (const id of ['1011', '1012']) {
      const chip = $('c' + id);
      chip.addEventListener('click', () => { // toggles itself; the state goes with the next command
        chip.setAttribute('aria-pressed', String(chip.getAttribute('aria-pressed') !== 'true'));
        dirty.add(VIEWER + '/' + id);
      });
    }
    document.addEventListener('keydown', onKey);
  }

  // Tab goes round inside the message box, dialog or menu on top instead of leaving the page.
  function wrapTab(e) {
    const top = ['alert', 'modal', 'sheet'].map($).find((el) => !el.hidden && !el.inert);
    if (!top) return;
    const all = [...top.querySelectorAll('button, input, textarea, [tabindex="0"]')].filter((el) => !el.disabled);
    if (!all.length) return;
    const [first, last] = [all[0], all[all.length - 1]];
    const at = document.activeElement;
    if (e.shiftKey ? at === first || !top.contains(at) : at === last || !top.contains(at)) {
      e.preventDefault();
      (e.shiftKey ? last : first).focus();
    }
  }

  function onKey(e) {
    if (ended || !model) return;
    const k = e.key;
    if ((e.ctrlKey || e.metaKey) && (k === 'q' || k === 'Q')) {
      e.preventDefault();
      exit();
      return;
    }
    if (k === 'Tab') { wrapTab(e); return; }
    if (k === 'Escape') {
      if (!$('sheet').hidden) closeSheet();
      else if (model.messageBox) command('messagebox', 2);
      else if (model.modal) command(model.modal, 2);
      else return;
      e.preventDefault();
      return;
    }
    if (model.modal || model.messageBox || !$('sheet').hidden || $('app').hidden) return;
    const t = e.target;
    if (t && (t.tagName === 'INPUT' || t.tagName === 'TEXTAREA' || (t.tagName === 'BUTTON' && k === 'Enter'))) return;
    const c = ctl(model.dialogs[VIEWER], '1010');
    const n = Math.floor((c.lines || []).length / LINES_PER_MESSAGE);
    const cur = c.selected >= 0 ? Math.floor(c.selected / LINES_PER_MESSAGE) : -1;
    if ((k === 'ArrowDown' || k === 'ArrowUp') && n > 0 && !document.body.classList.contains('pagemode')) {
      e.preventDefault();
      const next = k === 'ArrowDown' ? Math.min(n - 1, cur + 1) : Math.max(0, cur < 0 ? 0 : cur - 1);
      if (next !== cur) choose(next).then(() => {
        const el = $('card' + next);
        if (el) el.scrollIntoView({ block: 'nearest' });
      });
    } else if (k === 'Enter' && !document.body.classList.contains('pagemode')) {
      e.preventDefault();
      command('main', 40019);
    }
  }

  wire();
  refresh();
  listen();
})();
