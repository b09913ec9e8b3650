// The commands: the menu bar with its accelerators (a row of icon buttons on narrow screens,
// the same elements), the About box and the message boxes.
const $ = (id) => document.getElementById(id);

// "Text(K)" with the accelerator underlined, as the window's menus show it.
export function label(element, [text, key, suffix = '']) {
  const u = document.createElement('u');
  u.textContent = key;
  element.replaceChildren(`${text}(`, u, `)${suffix}`);
}

export function applyTexts(t, lang) {
  document.documentElement.lang = lang;
  label($('menu-file'), t.file);
  label($('menu-help'), t.help);
  for (const name of ['load', 'save', 'mic', 'voiceFile', 'builtin', 'about']) {
    const button = $(`cmd-${name.toLowerCase()}`);
    label(button.querySelector('.long'), t[name]);
    button.querySelector('.short').textContent = t.short[name];
    button.title = t[name][0];
  }
  for (const name of ['play', 'snap']) {
    const button = $(`cmd-${name}`);
    button.querySelector('.long').textContent = t[name];
    button.querySelector('.short').textContent = t.short[name];
    button.title = t[name];
  }
  $('cmd-save-voice').textContent = t.saveVoice;
  labelLooper(t.looper);
  $('pad').setAttribute('aria-label', t.pad);
  $('about-caption').textContent = t.aboutCaption;
  $('about-version').textContent = t.aboutVersion;
  $('about-line').textContent = t.aboutLine;
  $('about-ok').textContent = t.ok;
}

// The looper's buttons: the loop button's three labels (one shown at a time), the others' one,
// and titles that name the loop and the key.
function labelLooper(looper) {
  $('looper').setAttribute('aria-label', looper.name);
  const loop = $('cmd-loop');
  for (const next of ['record', 'play', 'overdub']) {
    loop.querySelector(`.long .next-${next}`).textContent = looper[next][0];
    loop.querySelector(`.short .next-${next}`).textContent = looper[next][1];
  }
  for (const name of ['stop', 'undo', 'clear', 'save']) {
    const button = $(name === 'save' ? 'cmd-save-loop' : `cmd-loop-${name}`);
    button.querySelector('.long').textContent = looper[name][0];
    button.querySelector('.short').textContent = looper[name][1];
    button.title = `${looper.name}: ${looper[name][0]} (${button.dataset.key.toUpperCase()})`;
  }
  loop.title = `${looper.name} (${loop.dataset.key.toUpperCase()})`;
  for (const button of $('looper').querySelectorAll('[data-key]')) {
    button.setAttribute('aria-keyshortcuts', button.dataset.key.toUpperCase());
  }
}

const menus = () => [...document.querySelectorAll('.menu')];

function closeMenus() {
  for (const menu of menus()) {
    menu.classList.remove('open');
    menu.querySelector('.title').setAttribute('aria-expanded', 'false');
    menu.querySelector('.popup').hidden = true;
  }
}

function openMenu(menu) {
  closeMenus();
  menu.classList.add('open');
  menu.querySelector('.title').setAttribute('aria-expanded', 'true');
  const popup = menu.querySelector('.popup');
  popup.hidden = false;
  popup.querySelector('button').focus();
}

// Arrows in an open menu, as in the window's: up and down through its items, round at the ends;
// left and right to the neighbouring menu. True when the key was one of them.
function moveInMenus(opened, key) {
  const all = menus();
  const across = { ArrowLeft: -1, ArrowRight: 1 }[key];
  if (across) {
    openMenu(all[(all.indexOf(opened) + across + all.length) % all.length]);
    return true;
  }
  const along = { ArrowUp: -1, ArrowDown: 1 }[key];
  if (!along) return false;
  const items = [...opened.querySelectorAll('.popup button')].filter((item) => !item.disabled);
  const at = items.indexOf(document.activeElement);
  const next = at < 0 ? (along > 0 ? 0 : items.length - 1) : at + along;
  items[(next + items.length) % items.length].focus();
  return true;
}

// A tool in the bar with a key of its own (the looper's), for a key pressed with no modifier
// where nothing is typed; null when there is none shown and enabled.
function toolFor(e) {
  if (e.altKey || e.ctrlKey || e.metaKey || e.repeat) return null;
  if (e.target.closest?.('select, input, textarea')) return null;
  const key = e.key.toLowerCase();
  return [...document.querySelectorAll('.bar .tool[data-key]')].find(
      (tool) => tool.dataset.key === key && !tool.disabled && tool.checkVisibility()) ?? null;
}

// `commands` maps each command element's id to what it does.
export function listenToMenus(commands) {
  for (const menu of menus()) {
    menu.querySelector('.title').addEventListener('click', () => {
      if (menu.classList.contains('open')) closeMenus();
      else openMenu(menu);
    });
  }
  for (const [id, run] of Object.entries(commands)) {
    $(id).addEventListener('click', (e) => {
      closeMenus();
      run(e);
    });
  }
  document.addEventListener('pointerdown', (e) => {
    if (!e.target.closest('.menu')) closeMenus();
  });
  document.addEventListener('keydown', (e) => {
    if (document.querySelector('dialog:modal')) return;  // the About box, the recording
    const key = e.key.toLowerCase();
    const opened = menus().find((m) => m.classList.contains('open'));
    if (e.altKey && (e.key === '?' || e.key === '/')) {
      e.preventDefault();
      closeMenus();
      showAbout();
    } else if (e.altKey && (key === 'f' || key === 'h')) {
      e.preventDefault();
      openMenu(menus().find((m) => m.querySelector('.title').dataset.key === key));
    } else if (opened) {
      if (e.key === 'Escape') {
        closeMenus();
        opened.querySelector('.title').focus();
      } else if (moveInMenus(opened, e.key)) {
        e.preventDefault();
      } else {
        const item = opened.querySelector(`.popup [data-key="${key}"]`);
        if (item) {
          e.preventDefault();
          item.click();
        }
      }
    } else {
      const tool = toolFor(e);
      if (tool) {
        e.preventDefault();
        tool.click();
      }
    }
  });
  $('about-ok').addEventListener('click', () => $('about').close());
}

export function showAbout() {
  const about = $('about');
  if (!about.open) about.showModal();  // owned by the window: the pad waits until it closes
}

// A message box has no owner: the pad stays live while it is shown.
export function showMessage(text, caption, ok) {
  const box = $('message-box').content.firstElementChild.cloneNode(true);
  box.querySelector('.caption').textContent = caption;
  box.querySelector('.text').textContent = text.replaceAll('\r\n', '\n');
  const button = box.querySelector('.ok');
  button.textContent = ok;
  const close = () => box.remove();
  button.addEventListener('click', close);
  box.addEventListener('keydown', (e) => {
    if (e.key === 'Escape' || e.key === 'Enter') {
      e.preventDefault();
      close();
    }
  });
  document.body.append(box);
  box.show();
  button.focus();
}
