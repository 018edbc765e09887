// The studio's page: shows the project's slots as the device shows them, sends each edit to the
// studio (which writes skin.toml and rebuilds), and follows changes made on disk.
'use strict';

const max_upload_bytes = 16 * 1024 * 1024;
const poll_interval_ms = 250;
const dithers = ['none', 'floyd-steinberg', 'ordered'];

// The token reaches the page after '#' in its first address, which no server sees. It is kept in
// this tab's session storage (never a cookie, which every server on this host would be sent), taken
// out of the address bar and the history, and sent with each request as a header.
const token = take_token();

let state = null;
let busy = false; // an edit is on its way: the poll waits for its answer
let stopped = false;

const element = (id) => document.getElementById(id);

function make(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'text') node.textContent = value;
    else node.setAttribute(name, value);
  }
  node.append(...children);
  return node;
}

function show_message(text) {
  const box = element('message');
  box.textContent = text;
  box.hidden = !text;
}

function take_token() {
  const found = /(?:^#|&)token=([0-9a-f]{32})(?:&|$)/.exec(location.hash);
  if (found) sessionStorage.setItem('skinview-studio-token', found[1]);
  if (location.hash || location.search) history.replaceState(null, '', '/');
  return sessionStorage.getItem('skinview-studio-token') || '';
}

// A request to the studio, with the token.
function api(path, options = {}) {
  return fetch(path, {...options, headers: {...options.headers, 'X-Studio-Token': token}});
}

async function load_state() {
  const response = await api('/api/state');
  if (!response.ok) throw new Error(await response.text());
  state = await response.json();
  render();
}

// Sends one edit, with the version it was made against; a stale one is refused and reloaded.
async function edit(path, parameters, body) {
  if (!state) return;
  busy = true;
  try {
    const query = new URLSearchParams({...parameters, version: state.version});
    const response = await api(path + '?' + query, {
      method: 'POST',
      body: body || '',
      headers: {'Content-Type': 'application/octet-stream'},
    });
    if (response.ok) {
      state = await response.json();
      show_message('');
      render();
    } else {
      show_message(await response.text());
      await load_state();
    }
  } catch (error) {
    show_message('The studio does not answer: ' + error.message);
  } finally {
    busy = false;
  }
}

function upload(path, parameters, file) {
  if (file.size > max_upload_bytes) {
    show_message(`${file.name}: too large (${file.size} bytes); at most 16 MiB. Nothing was changed.`);
    return;
  }
  edit(path, {...parameters, name: file.name}, file);
}

function zoom() {
  return Number(element('zoom').value);
}

// An image of the studio's: fetched with the token, shown from a blob address of this page's own.
function pixels(source, side, title) {
  const image = make('img', {class: 'pixels', alt: title, title, 'data-source': source});
  image.style.width = side * zoom() + 'px';
  show_image(image, source);
  return image;
}

async function show_image(image, source) {
  try {
    const response = await api(source);
    if (!response.ok) throw new Error(response.statusText);
    const address = URL.createObjectURL(await response.blob());
    image.addEventListener('load', () => URL.revokeObjectURL(address), {once: true});
    image.addEventListener('error', () => URL.revokeObjectURL(address), {once: true});
    image.src = address;
  } catch (error) {
    image.dispatchEvent(new Event('error'));
  }
}

// A download fetched with the token and handed to the browser as a file.
async function download(event) {
  event.preventDefault();
  const link = event.currentTarget;
  const response = await api(link.getAttribute('href')).catch(() => null);
  if (!response || !response.ok) {
    show_message(response ? await response.text() : 'The studio does not answer.');
    return;
  }
  const address = URL.createObjectURL(await response.blob());
  const save = make('a', {href: address, download: link.getAttribute('download')});
  document.body.append(save);
  save.click();
  save.remove();
  setTimeout(() => URL.revokeObjectURL(address), 60000);
}

function slot_label(slot) {
  return `${slot.icon ? 'icon' : 'picture'} ${slot.index} · ${slot.file} · ${slot.side}x${slot.side}`;
}

// The three dithers side by side; choosing one sets the entry's dither.
function comparison(entry_index, entry, side) {
  const box = make('div', {class: 'compare'});
  const chosen = entry.dither || state.defaults.dither;
  for (const dither of dithers) {
    const query = new URLSearchParams({entry: entry_index, dither, v: state.version});
    const figure = make('figure', {class: dither === chosen ? 'chosen' : '', 'data-dither': dither},
                        pixels('/api/dither.png?' + query, side, dither), make('figcaption', {text: dither}));
    figure.addEventListener('click', () => edit('/api/options', {entry: entry_index, dither}));
    box.append(figure);
  }
  return box;
}

function file_picker(label, on_file) {
  const input = make('input', {type: 'file', accept: 'image/*'});
  input.addEventListener('change', () => input.files.length && on_file(input.files[0]));
  return make('label', {class: 'replace'}, label, input);
}

function card(entry_index, entry) {
  const slots = state.slots.filter((slot) => slot.entry === entry_index);
  const side = slots.length ? slots[0].side : (entry.size || (entry.icon ? 16 : 128));
  const node = make('div', {class: 'card' + (entry.problems.length ? ' broken' : ''),
                            draggable: 'true', 'data-entry': entry_index, 'data-name': entry.name});

  const name = make('input', {class: 'name', value: entry.name, title: 'Rename (its C name is upper case)'});
  name.addEventListener('change', () => edit('/api/rename', {entry: entry_index, name: name.value}));
  const where = slots.length
    ? slots.length === 1 ? slot_label(slots[0]) : `${slot_label(slots[0])} and ${slots.length - 1} more frames`
    : (entry.icon ? 'icon' : 'picture') + ' (not built)';

  const frames = make('div', {class: 'frames'});
  for (const slot of slots) {
    const number = state.slots.indexOf(slot);
    frames.append(pixels(`/api/slot.png?slot=${number}&v=${state.version}`, slot.side, slot.file));
  }
  const original = pixels(`/api/source.png?entry=${entry_index}&v=${state.version}`, side, entry.sources[0]);
  original.classList.add('original');
  original.addEventListener('error', () => (original.hidden = true)); // its problem is said below
  const images = make('div', {class: 'images'},
                      make('figure', {class: 'device'}, frames, make('figcaption', {text: 'on the device'})),
                      make('figure', {}, original, make('figcaption', {text: entry.sources.join(', ')})));

  const dither = make('select', {class: 'dither', title: 'Dither'});
  dither.append(make('option', {value: 'default', text: `default (${state.defaults.dither})`}));
  for (const method of dithers) dither.append(make('option', {value: method, text: method}));
  dither.value = entry.dither || 'default';
  dither.addEventListener('change', () => edit('/api/options', {entry: entry_index, dither: dither.value}));

  const background = make('input', {type: 'color', class: 'background', title: 'Background',
                                    value: entry.background || state.defaults.background});
  background.addEventListener('change', () => edit('/api/options', {entry: entry_index, background: background.value}));
  const default_background = make('button', {type: 'button', text: 'default background'});
  default_background.addEventListener('click', () => edit('/api/options', {entry: entry_index, background: 'default'}));

  const compare_box = make('div', {class: 'compare-box'});
  const compare = make('button', {type: 'button', class: 'compare-button', text: 'Compare dithers'});
  compare.addEventListener('click', () => {
    compare_box.replaceChildren(compare_box.childElementCount ? '' : comparison(entry_index, entry, side));
  });

  const remove = make('button', {type: 'button', class: 'remove', text: 'Remove'});
  remove.addEventListener('click', () => {
    if (confirm(`Remove "${entry.name}" from the skin? Its artwork file stays in the folder.`))
      edit('/api/remove', {entry: entry_index});
  });

  const controls = make('div', {class: 'controls'}, dither, background, default_background, compare,
                        file_picker('Replace artwork', (file) => upload('/api/source', {entry: entry_index}, file)),
                        remove);
  const problems = make('ul', {class: 'problems'});
  for (const problem of entry.problems) problems.append(make('li', {text: problem}));
  node.append(make('div', {}, name, ' ', make('span', {class: 'where', text: where})), images, controls,
              compare_box, problems);

  node.addEventListener('dragstart', (event) => {
    event.dataTransfer.setData('application/x-skin-entry', String(entry_index));
    event.dataTransfer.effectAllowed = 'move';
  });
  accept_drops(node, (event) => {
    const files = event.dataTransfer.files;
    const moved = event.dataTransfer.getData('application/x-skin-entry');
    if (files.length) upload('/api/source', {entry: entry_index}, files[0]);
    else if (moved !== '' && Number(moved) !== entry_index) edit('/api/move', {entry: moved, to: entry_index});
  });
  return node;
}

// Marks `node` while something is dragged over it and hands the drop to `on_drop`. Cancelling
// dragover is what tells the browser that a drop is welcome here.
function accept_drops(node, on_drop) {
  node.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = event.dataTransfer.types.includes('Files') ? 'copy' : 'move';
    node.classList.add('over');
  });
  node.addEventListener('dragleave', () => node.classList.remove('over'));
  node.addEventListener('drop', (event) => {
    event.preventDefault();
    event.stopPropagation();
    node.classList.remove('over');
    on_drop(event);
  });
}

function render() {
  element('folder').textContent = state.folder;
  const skin = state.skin;
  element('skin-info').textContent = skin.size
    ? `skin.skn: ${skin.size} bytes, CRC-32 ${skin.crc32}, ${skin.images} images` +
      (state.problems.length || state.entries.some((entry) => entry.problems.length) ? ' (the last good build)' : '')
    : 'not built yet';
  element('init').hidden = state.has_project;
  element('init-text').textContent = state.can_init
    ? 'This folder has numbered BMPs but no skin.toml. Make one from them, as skinview init does: no file changes.'
    : 'This folder has no skin.toml. Start an empty project here, then drop artwork to add pictures and icons.';
  const problems = element('problems');
  problems.replaceChildren(...state.problems.map((problem) => make('li', {text: problem})));
  if (!state.editable && state.has_project)
    problems.append(make('li', {text: 'Mend skin.toml by hand: the studio follows it and shows the result.'}));

  const pictures = element('pictures');
  const icons = element('icons');
  pictures.replaceChildren();
  icons.replaceChildren();
  state.entries.forEach((entry, index) => (entry.icon ? icons : pictures).append(card(index, entry)));
  for (const zone of document.querySelectorAll('.add')) zone.hidden = !state.editable;
}

// Asks the studio for its version; anything new, from the disk or another tab, is shown at once.
async function poll() {
  if (stopped || busy || !state) return;
  try {
    const response = await api('/api/version');
    const {version} = await response.json();
    if (version !== state.version && !busy) await load_state();
  } catch (error) {
    show_message('The studio does not answer. Start skinview studio again to go on.');
  }
}

function start() {
  for (const zone of document.querySelectorAll('.add')) {
    const kind = zone.dataset.kind;
    accept_drops(zone, (event) => event.dataTransfer.files.length &&
                                  upload('/api/add', {kind}, event.dataTransfer.files[0]));
    const input = zone.querySelector('input');
    input.addEventListener('change', () => input.files.length && upload('/api/add', {kind}, input.files[0]));
  }
  // A file dropped beside the targets must not replace the page with itself: the browser is told
  // that no drop is taken there.
  window.addEventListener('dragover', (event) => {
    if (event.defaultPrevented) return;
    event.preventDefault();
    event.dataTransfer.dropEffect = 'none';
  });
  window.addEventListener('drop', (event) => event.preventDefault());
  element('zoom').addEventListener('change', render);
  for (const link of document.querySelectorAll('.download')) link.addEventListener('click', download);
  element('init-button').addEventListener('click', () => edit('/api/init', {}));
  element('stop').addEventListener('click', async () => {
    stopped = true;
    await api('/api/stop', {method: 'POST'}).catch(() => {});
    document.querySelector('main').hidden = true;
    element('stopped').hidden = false;
  });
  load_state().catch((error) => show_message(error.message));
  setInterval(poll, poll_interval_ms);
}

start();
