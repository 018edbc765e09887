// The studio's page: shows the project's slots as the device shows them, sends each edit to the
// studio (which writes skin.toml and rebuilds), and follows changes made on disk.
'use strict';

const max_upload_bytes = 16 * 1024 * 1024;
const frame_ms = 100; // how long an animated tile shows a frame whose file gives no pace

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

// A word that something was done otherwise than asked, not an error.
function show_note(text) {
  element('note').textContent = text;
  element('note').hidden = !text;
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
  if (!state) return false;
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
      show_note('');
      render();
      return true;
    }
    show_message(await response.text());
    await load_state();
  } catch (error) {
    show_message('The studio does not answer: ' + error.message);
  } finally {
    busy = false;
  }
  return false;
}

function upload(path, parameters, file) {
  if (file.size > max_upload_bytes) {
    show_message(`${file.name}: too large (${file.size} bytes); at most 16 MiB. Nothing was changed.`);
    return Promise.resolve(false);
  }
  return edit(path, {...parameters, name: file.name}, file);
}

let selected = null; // the key of the entry shown in detail
let shown_keys = []; // every entry's key as last shown, to follow a renamed entry in detail

// The overview's zoom; "fit" takes the largest that shows every slot in the window.
function zoom() {
  const value = element('zoom').value;
  // "device": one image pixel on one pixel of the screen, at the size the device shows it.
  return value === 'fit' ? fit_zoom() : value === 'device' ? 1 / devicePixelRatio : Number(value);
}

// The detail's scale: icons large enough to see their pixels, pictures to fit beside their artwork.
function detail_scale(side) {
  return side <= 16 ? 8 : 2;
}

// An image of the studio's: fetched with the token, shown from a blob address of this page's own.
function pixels(source, side, title, width = side * detail_scale(side)) {
  const image = make('img', {class: 'pixels', alt: title, title, 'data-source': source, 'data-side': side});
  image.style.width = width + 'px';
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

// The entry index that a card stands for now: read when an event comes, since a kept card may
// have moved.
function entry_of(node) {
  return Number(node.closest('.card').dataset.entry);
}

// The C name that `name` gives, by the rule the studio sends (state.rules.names); null when it
// gives none.
function c_name(name) {
  const rule = state.rules.names;
  const characters = [...name];
  const allowed = (c) => rule.letters.includes(c) || rule.digits.includes(c) || rule.joiners.includes(c);
  if (!characters.length || rule.digits.includes(characters[0]) || !characters.every(allowed)) return null;
  return characters.map((c) => (rule.joiners.includes(c) ? '_' : c.toUpperCase())).join('');
}

// Why `name` cannot name entry `except`: not a C name, or the same C name as another entry's.
// Empty when it can.
function name_problem(name, except) {
  const wanted = c_name(name);
  if (wanted === null) return name === '' ? 'a name is needed' : state.rules.names.advice;
  const other = state.entries.find((entry, index) => index !== except && c_name(entry.name) === wanted);
  return other ? `SKIN_${wanted} is taken by ${other.icon ? 'icon' : 'picture'} "${other.name}"` : '';
}

// The names of every dither, as the studio sends them.
function dither_names() {
  return state.rules.dithers.map((dither) => dither.name);
}

// Every dither side by side; choosing one sets the entry's dither.
function comparison(entry_index, entry, side) {
  const box = make('div', {class: 'compare'});
  for (const dither of dither_names()) {
    const query = new URLSearchParams({entry: entry_index, dither, v: compare_key(entry)});
    const figure = make('figure', {'data-dither': dither},
                        pixels('/api/dither.png?' + query, side, dither, side * (side <= 16 ? 6 : 1.25)),
                        make('figcaption', {text: dither}));
    figure.addEventListener('click', () => state.editable && edit('/api/options', {entry: entry_of(box), dither}));
    box.append(figure);
  }
  mark_chosen(box, entry);
  return box;
}

function mark_chosen(box, entry) {
  const chosen = entry.dither || state.defaults.dither;
  for (const figure of box.querySelectorAll('figure')) figure.classList.toggle('chosen', figure.dataset.dither === chosen);
}

// What the compared images depend on: the artwork and the background.
function compare_key(entry) {
  return [entry.stamp, entry.background || state.defaults.background, entry.size].join('-');
}

function file_picker(label, on_file) {
  const input = make('input', {type: 'file', accept: 'image/*'});
  input.addEventListener('change', () => input.files.length && on_file(input.files[0]));
  return make('label', {class: 'replace'}, label, input);
}

// The slots of the last good skin that show an entry.
function entry_slots(entry) {
  return state.slots.filter((slot) => slot.name === entry.name);
}

// The name field: checked as it is typed, saved on Enter or when left, never half-typed.
function name_part(entry, where) {
  const name = make('input', {class: 'name', value: entry.name, spellcheck: 'false',
                              title: 'Rename: saved on Enter or when you leave the field'});
  const reason = make('span', {class: 'name-problem', role: 'status'});
  const check_name = () => {
    const problem = name.value === entry.name ? '' : name_problem(name.value, entry_of(name));
    reason.textContent = problem;
    name.classList.toggle('invalid', problem !== '');
    return problem;
  };
  name.addEventListener('input', check_name);
  name.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      name.value = entry.name;
      check_name();
    }
  });
  name.addEventListener('change', () => {
    if (name.value === entry.name || check_name()) return;
    const card = name.closest('.card');
    if (selected === card.dataset.key) selected = name.value;
    card.dataset.key = name.value; // the card stays when the answer comes
    edit('/api/rename', {entry: entry_of(name), name: name.value});
  });
  return make('div', {class: 'head'}, name, ' ', make('span', {class: 'where', text: where}), reason);
}

function images_part(entry_index, entry, slots, side) {
  const frames = make('div', {class: 'frames'});
  for (const slot of slots) {
    const number = state.slots.indexOf(slot);
    frames.append(pixels(`/api/slot.png?slot=${number}&v=${slot.hash}`, slot.side, slot.file));
  }
  // Where the entry has a problem of its own, its slots show the last good build, marked so.
  const stale = slots.length > 0 && entry.problems.length > 0;
  const caption = !slots.length ? 'not built' : entry.problems.length ? 'the last good build (stale)' : 'on the device';
  const original = pixels(`/api/source.png?entry=${entry_index}&v=${entry.stamp}`, side, entry.sources[0] || '');
  original.classList.add('original');
  original.addEventListener('error', () => (original.hidden = true)); // its problem is said below
  return make('div', {class: 'images'},
              make('figure', {class: 'device' + (stale ? ' stale' : '')}, frames,
                   make('figcaption', {text: caption})),
              make('figure', {}, original, make('figcaption', {text: entry.sources.join(', ')})),
              ...(entry.as_is ? [] : [error_figure(entry_index, entry, slots, side)]));
}

// Where the eye sees the device's first frame differ from the artwork, blurred as at the device's
// pixel size: black for no difference seen, through red and yellow to white for a plain one.
function error_figure(entry_index, entry, slots, side) {
  const image = make('img', {class: 'pixels error-map', alt: 'Where the device differs from the artwork',
                             title: 'Black: no difference seen; red, yellow, white: more and more plain'});
  image.style.width = side * detail_scale(side) + 'px';
  const caption = make('figcaption', {text: 'difference seen'});
  const figure = make('figure', {class: 'error'}, image, caption);
  const version = entry.stamp + (slots.length ? slots[0].hash : '');
  api(`/api/error.png?entry=${entry_index}&v=${version}`).then(async (response) => {
    if (!response.ok) throw new Error(response.statusText);
    caption.textContent = `difference seen: ${response.headers.get('X-Mean-Error')} on average`;
    const address = URL.createObjectURL(await response.blob());
    image.addEventListener('load', () => URL.revokeObjectURL(address), {once: true});
    image.src = address;
  }).catch(() => (figure.hidden = true)); // the entry's problem is said below
  return figure;
}

function controls_part(entry, side) {
  const controls = make('div', {class: 'controls'});
  if (!entry.as_is) {
    const dither = make('select', {class: 'dither', title: 'Dither'});
    dither.append(make('option', {value: 'default', text: `default (${state.defaults.dither})`}));
    for (const row of state.rules.dithers) dither.append(make('option', {value: row.name, text: row.name, title: row.hint}));
    dither.value = entry.dither || 'default';
    dither.addEventListener('change', () => edit('/api/options', {entry: entry_of(dither), dither: dither.value}));

    const background = make('input', {type: 'color', class: 'background', title: 'Background',
                                      value: entry.background || state.defaults.background});
    background.addEventListener('change', () => set_background(entry_of(background), background.value));
    const default_background = make('button', {type: 'button', text: 'default background'});
    default_background.addEventListener('click',
                                        () => edit('/api/options', {entry: entry_of(controls), background: 'default'}));
    const compare = make('button', {type: 'button', class: 'compare-button', text: 'Compare dithers'});
    compare.addEventListener('click', () => {
      const box = compare.closest('.card').querySelector('[data-part=compare]');
      const index = entry_of(compare);
      box.replaceChildren(box.childElementCount ? '' : comparison(index, state.entries[index], side));
    });
    controls.append(dither, background, default_background, compare);
  } else {
    controls.append(make('span', {class: 'where', text: 'as is: the BMP goes into the skin unchanged'}));
  }
  // No question asked: a removal is undone as any edit, and its artwork stays in the folder.
  const remove = make('button', {type: 'button', class: 'remove', text: 'Remove',
                                 title: 'Remove from the skin (Ctrl+Z brings it back); its artwork stays'});
  remove.addEventListener('click', () => edit('/api/remove', {entry: entry_of(remove)}));
  controls.append(file_picker('Replace artwork', (file) => upload('/api/source', {entry: entry_of(controls)}, file)),
                  remove);
  return controls;
}

// What the device view does not say by itself: which frames may flicker, what the checkers are.
function notes_part(entry, frames) {
  const notes = make('div', {class: 'notes'});
  const dither = state.rules.dithers.find((row) => row.name === (entry.dither || state.defaults.dither));
  if (!entry.as_is && frames > 1 && dither && !dither.steady_frames) {
    const steady = state.rules.dithers.filter((row) => row.steady_frames).map((row) => row.name);
    notes.append(make('p', {class: 'where', text: `${dither.name} lets still pixels change from frame to frame; ` +
                                                  `${steady.join(' or ')} keep them steady.`}));
  }
  const key = entry.key || state.defaults.key;
  if (key)
    notes.append(make('p', {class: 'where', text: `Checkered pixels are the key colour ${key}, which the firmware skips.`}));
  return notes;
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

// Lets `node`, which stands for the entry in its data-entry, be dragged to another place, and take
// artwork files (which replace the entry's) or another entry (which moves there).
function drag_and_drop(node) {
  node.addEventListener('dragstart', (event) => {
    event.dataTransfer.setData('application/x-skin-entry', node.dataset.entry);
    event.dataTransfer.effectAllowed = 'move';
  });
  accept_drops(node, (event) => {
    const files = event.dataTransfer.files;
    const moved = event.dataTransfer.getData('application/x-skin-entry');
    const here = Number(node.dataset.entry);
    if (!state.editable) return;
    if (files.length) upload('/api/source', {entry: here}, files[0]);
    else if (moved !== '' && Number(moved) !== here) move_entry(Number(moved), here, state.entries[here].icon);
  });
  return node;
}

// Moves entry `from` to place `to` among the icons or the pictures. One that changes series says
// so, since it changes the skin's numbering and its name in the firmware's header.
async function move_entry(from, to, icon) {
  const {name, icon: was_icon} = state.entries[from];
  if (!(await edit('/api/move', {entry: from, to, series: icon ? 'icon' : 'picture'}))) return;
  if (was_icon === icon) return;
  const next = state.entries.slice(to + 1).find((entry) => entry.icon === icon);
  const place = next ? `before "${next.name}"` : 'at the end';
  show_note(`"${name}" moved from the ${was_icon ? 'icons' : 'pictures'} to the ${icon ? 'icons' : 'pictures'}, ${place}.`);
}

// The device colour nearest to `colour` ("#rrggbb"), by distance in RGB; the first of equals.
function nearest_device_colour(colour) {
  const channels = (hex) => [1, 3, 5].map((at) => parseInt(hex.slice(at, at + 2), 16));
  const wanted = channels(colour);
  let best = state.palette[0];
  let best_distance = Infinity;
  for (const candidate of state.palette) {
    const distance = channels(candidate).reduce((sum, value, i) => sum + (value - wanted[i]) ** 2, 0);
    if (distance < best_distance) [best, best_distance] = [candidate, distance];
  }
  return best;
}

// Sets an entry's background to a device colour: another is taken to the nearest, and the page
// says so, since the device could only show it as a pattern of two.
async function set_background(index, colour) {
  const device = nearest_device_colour(colour.toLowerCase());
  const saved = await edit('/api/options', {entry: index, background: device});
  if (saved && device !== colour.toLowerCase())
    show_note(`${colour} is not one of the device's colours: the nearest, ${device}, was taken.`);
}

// A new card; its parts are filled by update_card.
function new_card(key) {
  return drag_and_drop(make('div', {class: 'card', draggable: 'true', 'data-key': key}));
}

// Shows entry `key` in detail (none: nothing).
function select(key) {
  selected = key;
  for (const card of document.querySelectorAll('.card')) card.hidden = card.dataset.key !== key;
  for (const tile of document.querySelectorAll('.tile')) tile.classList.toggle('selected', tile.dataset.key === key);
  const shown = document.querySelector('.card:not([hidden])');
  element('no-selection').hidden = !!shown;
  element('detail').classList.toggle('empty', !shown);
  if (state) follow_editor();
}

// One slot of the overview (or an entry with none built yet): its device image and its name.
function new_tile(key, entry_key, signature, image) {
  const tile = drag_and_drop(make('div', {class: 'tile', tabindex: '0', draggable: 'true', 'data-key': entry_key,
                                          'data-tile': key, 'data-signature': signature}));
  tile.append(image, make('span', {class: 'label'}));
  tile.addEventListener('click', () => select(tile.dataset.key));
  tile.addEventListener('keydown', (event) => event.key === 'Enter' && select(tile.dataset.key));
  return tile;
}

// The overview's tiles, in skin order: each entry's slots of the last good build, or a blank of its
// size where it has none. A tile whose image is unchanged is kept, so nothing is fetched again.
function render_tiles(keys) {
  const old = new Map([...document.querySelectorAll('.tile')].map((tile) => [tile.dataset.tile, tile]));
  const lists = {picture: [], icon: []};
  state.entries.forEach((entry, index) => {
    const slots = entry_slots(entry);
    const side = slots.length ? slots[0].side : (entry.size || (entry.icon ? 16 : 128));
    // An entry's frames share one tile, where they play.
    const key = `${keys[index]}/${slots.length ? 'built' : 'none'}`;
    const signature = slots.length ? slots.map((slot) => `${slot.hash}/${slot.file}`).join() : `none/${side}`;
    let tile = old.get(key);
    if (!tile || tile.dataset.signature !== signature) {
      const images = slots.map((slot, frame) => {
        const image = pixels(`/api/slot.png?slot=${state.slots.indexOf(slot)}&v=${slot.hash}`, side, slot.file);
        image.classList.add('tile-image');
        image.hidden = frame > 0;
        return image;
      });
      const delays = slots.map((slot) => frame_delay(slot.delay_ms)).join();
      const image = slots.length > 1 ? make('div', {class: 'frames-playing', 'data-delays': delays}, ...images)
                  : images[0] || make('div', {class: 'missing tile-image', 'data-side': side});
      tile = new_tile(key, keys[index], signature, image);
    }
    old.delete(key);
    tile.dataset.entry = index;
    tile.dataset.name = entry.name;
    tile.draggable = state.editable;
    tile.classList.toggle('broken', entry.problems.length > 0);
    tile.classList.toggle('stale', slots.length > 0 && entry.problems.length > 0);
    tile.querySelector('.label').textContent = slots.length > 1 ? `${entry.name} (${slots.length} frames)` : entry.name;
    tile.title = !slots.length ? `${entry.name}: not built`
               : slots.length === 1 ? slot_label(slots[0])
               : `${slot_label(slots[0])} to ${slot_label(slots[slots.length - 1])}`;
    lists[entry.icon ? 'icon' : 'picture'].push(tile);
  });
  place(element('picture-tiles'), lists.picture);
  place(element('icon-tiles'), lists.icon);
  size_tiles();
}

// How long a frame shows: as its GIF says, where it says a pace browsers keep (more than a
// hundredth of a second), else a tenth of a second.
function frame_delay(delay_ms) {
  return delay_ms > 10 ? delay_ms : frame_ms;
}

// Plays every animated tile: each shows the frame that the time falls on, so that tiles of the
// same pace keep in step. Still for those who ask for less motion.
function play_frames() {
  if (matchMedia('(prefers-reduced-motion: reduce)').matches) return;
  const now = performance.now();
  for (const box of document.querySelectorAll('.frames-playing')) {
    const delays = box.dataset.delays.split(',').map(Number);
    let time = now % delays.reduce((sum, delay) => sum + delay, 0);
    let shown = 0;
    while (time >= delays[shown]) time -= delays[shown++];
    [...box.children].forEach((image, frame) => (image.hidden = frame !== shown));
  }
}

// Slots are square: both sides are set, so that a picture never shows stretched while it loads.
function size_image(image, scale) {
  image.style.width = image.style.height = image.dataset.side * scale + 'px';
}

// Sets the overview's images to their side times the zoom.
function size_tiles() {
  const scale = zoom();
  for (const image of document.querySelectorAll('.tile-image')) size_image(image, scale);
}

// The largest zoom, down to 1, at which the whole overview fits in the window below the top bar.
function fit_zoom() {
  const overview = element('overview');
  const room = innerHeight - element('top').offsetHeight;
  const images = [...overview.querySelectorAll('.tile-image')];
  for (let scale = 8; scale > 1; scale -= 1) {
    for (const image of images) size_image(image, scale);
    if (overview.offsetHeight <= room) return scale;
  }
  return 1;
}

// Brings a card up to date part by part: a part whose content is unchanged, or that holds the
// focus, stays as it is, so that nothing typed or opened there is lost.
function update_card(node, entry_index, entry) {
  const slots = entry_slots(entry);
  const side = slots.length ? slots[0].side : (entry.size || (entry.icon ? 16 : 128));
  const where = slots.length
    ? slots.length === 1 ? slot_label(slots[0]) : `${slot_label(slots[0])} and ${slots.length - 1} more frames`
    : (entry.icon ? 'icon' : 'picture') + ' (not built)';
  node.dataset.entry = entry_index;
  node.dataset.name = entry.name;
  node.id = 'entry-' + entry_index;
  node.classList.toggle('broken', entry.problems.length > 0);
  node.draggable = state.editable;

  const open_compare = node.querySelector('[data-part=compare] .compare');
  const parts = [
    ['head', [entry.name, where, state.editable], () => name_part(entry, where)],
    ['images', [entry_index, entry.stamp, entry.problems.length > 0, slots.map((slot) => slot.hash + slot.file)],
     () => images_part(entry_index, entry, slots, side)],
    ['controls', [entry.as_is, entry.dither, entry.background, state.defaults, state.editable, side],
     () => controls_part(entry, side)],
    ['notes', [entry.as_is, entry.dither || state.defaults.dither, Math.max(slots.length, entry.sources.length),
               entry.key || state.defaults.key], () => notes_part(entry, Math.max(slots.length, entry.sources.length))],
    ['compare', [entry_index, compare_key(entry), entry.as_is, !!open_compare],
     () => make('div', {}, ...(open_compare && !entry.as_is ? [comparison(entry_index, entry, side)] : []))],
    ['problems', entry.problems, () => make('ul', {class: 'problems'},
                                           ...entry.problems.map((problem) => make('li', {text: problem})))],
  ];
  for (const [name, key, build] of parts) {
    const signature = JSON.stringify(key);
    const old = node.querySelector(`:scope > [data-part=${name}]`);
    if (old && (old.dataset.signature === signature || old.contains(document.activeElement))) continue;
    const fresh = build();
    fresh.dataset.part = name;
    fresh.dataset.signature = signature;
    if (old) old.replaceWith(fresh);
    else node.append(fresh);
  }
  if (open_compare) mark_chosen(open_compare, entry);
  for (const control of node.querySelectorAll('input, select, button'))
    if (control !== document.activeElement) control.disabled = !state.editable;
}

// Puts `nodes` into `box` in order, moving only those out of place. Those that go are removed
// first, so that the rest need not move: a moved node loses the focus, and a field then saves.
function place(box, nodes) {
  const kept = new Set(nodes);
  for (const child of [...box.children]) if (!kept.has(child)) child.remove();
  nodes.forEach((node, index) => {
    if (box.children[index] !== node) box.insertBefore(node, box.children[index] || null);
  });
}

// The problems at the top: counted, each entry's a link to its card.
function render_problems() {
  const list = element('problems');
  const items = state.problems.filter((problem) => !state.entries.some((entry) => entry.problems.includes(problem)))
    .map((problem) => make('li', {text: problem}));
  state.entries.forEach((entry, index) => {
    for (const problem of entry.problems) {
      const link = make('a', {href: '#entry-' + index, text: `${entry.name}: ${problem}`});
      link.addEventListener('click', (event) => {
        event.preventDefault();
        const card = element('entry-' + index);
        select(card.dataset.key);
        document.querySelector(`.tile[data-key="${CSS.escape(card.dataset.key)}"]`)?.scrollIntoView({block: 'center'});
        card.querySelector('input.name')?.focus({preventScroll: true});
        card.classList.add('flash');
        setTimeout(() => card.classList.remove('flash'), 1200);
      });
      items.push(make('li', {}, link));
    }
  });
  list.replaceChildren(...items);
  element('problem-summary').hidden = items.length === 0;
  element('problem-count').textContent = items.length === 1 ? '1 problem' : `${items.length} problems`;
  const locked = element('locked');
  locked.hidden = state.editable || !state.has_project;
  locked.textContent = 'The studio cannot save this skin.toml without losing what it cannot read, so editing ' +
                       'is off. Mend skin.toml by hand: the page follows it.';
}

function render() {
  element('folder').textContent = '\u200e' + state.folder; // read left to right, cut on the left
  element('folder').title = state.folder;
  const skin = state.skin;
  const problems = state.stale;
  element('skin-info').textContent = skin.size
    ? `${skin.size} bytes, CRC-32 ${skin.crc32}, ${skin.images} images` + (problems ? ' (last good build)' : '')
    : 'not built yet';
  for (const link of document.querySelectorAll('.download')) link.hidden = !skin.size;
  element('init').hidden = state.has_project;
  element('init-text').textContent = state.can_init
    ? 'This folder has numbered BMPs but no skin.toml. Make one from them, as skinview init does: no file changes.'
    : 'This folder has no skin.toml. Drop artwork below to start a project here, or make an empty one.';
  render_problems();
  render_palette();
  render_history();

  const cards = new Map([...document.querySelectorAll('.card')].map((node) => [node.dataset.key, node]));
  const pictures = [];
  const icons = [];
  const seen = {};
  const keys = state.entries.map((entry) => {
    seen[entry.name] = (seen[entry.name] || 0) + 1;
    return seen[entry.name] === 1 ? entry.name : `${entry.name}#${seen[entry.name]}`;
  });
  state.entries.forEach((entry, index) => {
    const key = keys[index];
    const node = cards.get(key) || new_card(key);
    cards.delete(key);
    update_card(node, index, entry);
    (entry.icon ? icons : pictures).push(node);
  });
  place(element('pictures'), pictures);
  place(element('icons'), icons);
  render_tiles(keys);
  select(followed(keys));
  shown_keys = keys;
  document.documentElement.style.setProperty('--top-height', element('top').offsetHeight + 'px');
  // An empty folder takes drops at once: the project is made first.
  const droppable = state.editable || (!state.has_project && !state.can_init);
  for (const zone of document.querySelectorAll('.add')) zone.hidden = !droppable;
  element('new-icon').hidden = element('new-picture').hidden = !state.editable;
}

// The key to keep in detail: the same, or, where an undo or a hand edit renamed it, the new name
// at its place; otherwise none.
function followed(keys) {
  if (selected === null || keys.includes(selected)) return selected;
  const at = shown_keys.indexOf(selected);
  const renamed = keys.length === shown_keys.length && at >= 0 && !shown_keys.includes(keys[at]);
  return renamed ? keys[at] : null;
}

// The header's Undo and Redo, each saying what it would do.
function render_history() {
  const key = /Mac|iPhone|iPad/.test(navigator.platform) ? 'Cmd' : 'Ctrl';
  for (const [id, label, keys] of [['undo', state.undo, key + '+Z'], ['redo', state.redo, key + '+Shift+Z']]) {
    const button = element(id);
    button.disabled = !label;
    button.title = label ? `${id === 'undo' ? 'Undo' : 'Redo'} ${label} (${keys})` : `Nothing to ${id}`;
  }
}

// Undoes the page's last edit, or redoes the last one undone: written to skin.toml like an edit.
function undo_or_redo(redo) {
  if (!busy && !paint.queue.length && state && state[redo ? 'redo' : 'undo']) edit(redo ? '/api/redo' : '/api/undo', {});
}

// Whether the browser's own undo applies where the focus is: a field that takes typed text.
function takes_text(node) {
  return node.isContentEditable || node.tagName === 'TEXTAREA' ||
         (node.tagName === 'INPUT' && !['button', 'checkbox', 'color', 'file', 'radio', 'range'].includes(node.type));
}

// Ctrl+Z and Ctrl+Shift+Z (Cmd on macOS; Ctrl+Y too) undo and redo the page's edits.
function undo_keys(event) {
  if (!(event.ctrlKey || event.metaKey) || event.altKey || takes_text(event.target)) return;
  const key = event.key.toLowerCase();
  if (key !== 'z' && !(key === 'y' && !event.shiftKey)) return;
  event.preventDefault();
  undo_or_redo(key === 'y' || event.shiftKey);
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

// Adds every file, one after the other in their order; an empty folder gets its skin.toml first.
async function add_files(kind, files) {
  if (!state.has_project && !state.can_init) await edit('/api/init', {});
  for (const file of files) {
    if (!(await upload('/api/add', {kind}, file))) break;
  }
}

// The pixel editor: paints the selected entry's touch layer. Each stroke is one saved edit.
const paint = {
  entry: null, // the entry index in the editor
  key: null, // its key in the page, to see another entry come there
  version: null, // the studio's version its pixels were read at
  pixels: null, // as GET /api/pixels gave them, `layer` as painted here since
  frame: 0,
  tool: 'Pencil',
  colour: 0, // the pixel byte painted
  mirror: false,
  stroke: null, // while the pointer is down: {start, last, before, seen}
  queue: [], // strokes to save in order, each {entry, layer}
  saving: false,
  refused: '', // why the studio refused the first stroke of the queue
};

// The tools' keys; Shift+F is "Replace colour", M the mirror.
const tool_keys = {p: 'Pencil', e: 'Eraser', f: 'Fill', i: 'Pick colour', l: 'Line', r: 'Rectangle',
                   '[': 'Level up', ']': 'Level down'};

function editor_scale(side) {
  return Math.max(1, Math.floor(384 / side));
}

// What the device shows at pixel `at` of `frame`: the painted code, else the conversion's.
function shown_code(frame, at) {
  const painted = paint.pixels.layer[frame][at];
  return painted >= 0 ? painted : paint.pixels.untouched[frame][at];
}

// The device colours as [r, g, b], read once per palette the studio sends.
let palette_rgb = {from: null, rows: []};
function colour_rgb(code) {
  if (palette_rgb.from !== state.palette)
    palette_rgb = {from: state.palette,
                   rows: state.palette.map((hex) => [1, 3, 5].map((at) => parseInt(hex.slice(at, at + 2), 16)))};
  return palette_rgb.rows[code];
}

// One frame as the device shows it, key pixels transparent, at one canvas pixel per pixel.
function frame_image(frame) {
  const {side, key} = paint.pixels;
  const image = new ImageData(side, side);
  for (let at = 0; at < side * side; ++at) {
    const code = shown_code(frame, at);
    image.data.set([...colour_rgb(code), code === key ? 0 : 255], at * 4);
  }
  return image;
}

// Draws the editor's canvases: the frame large (with onion skin, touched marks and grid) and 1:1.
function draw() {
  if (!paint.pixels) return;
  const {side} = paint.pixels;
  const scale = editor_scale(side);
  const small = element('actual-size');
  const large = element('pixel-editor');
  if (small.width !== side) [small.width, small.height] = [side, side];
  if (large.width !== side * scale) [large.width, large.height] = [side * scale, side * scale];
  small.getContext('2d').putImageData(frame_image(paint.frame), 0, 0);
  const context = large.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.clearRect(0, 0, large.width, large.height);
  context.drawImage(small, 0, 0, large.width, large.height);
  if (element('onion').checked && paint.frame > 0) draw_onion(context, side, scale);
  if (element('overlay').checked) draw_touched(context, side, scale);
  if (element('grid').checked && scale >= 4) draw_grid(context, side, scale);
}

// The previous frame, faint over this one.
function draw_onion(context, side, scale) {
  const previous = Object.assign(document.createElement('canvas'), {width: side, height: side});
  previous.getContext('2d').putImageData(frame_image(paint.frame - 1), 0, 0);
  context.globalAlpha = 0.3;
  context.drawImage(previous, 0, 0, side * scale, side * scale);
  context.globalAlpha = 1;
}

// A mark on each pixel of hand work.
function draw_touched(context, side, scale) {
  const layer = paint.pixels.layer[paint.frame];
  const mark = Math.max(1, Math.floor(scale / 3));
  for (let at = 0; at < side * side; ++at) {
    if (layer[at] < 0) continue;
    const [x, y] = [at % side, Math.floor(at / side)];
    context.fillStyle = '#000';
    context.fillRect(x * scale + mark - 1, y * scale + mark - 1, scale - 2 * mark + 2, scale - 2 * mark + 2);
    context.fillStyle = '#fff';
    context.fillRect(x * scale + mark, y * scale + mark, scale - 2 * mark, scale - 2 * mark);
  }
}

function draw_grid(context, side, scale) {
  context.strokeStyle = 'rgba(128, 128, 128, 0.6)';
  context.lineWidth = 1;
  context.beginPath();
  for (let n = 1; n < side; ++n) {
    context.moveTo(n * scale + 0.5, 0);
    context.lineTo(n * scale + 0.5, side * scale);
    context.moveTo(0, n * scale + 0.5);
    context.lineTo(side * scale, n * scale + 0.5);
  }
  context.stroke();
}

// Shows the selected entry in the editor; its pixels are read again when the project changed and
// no stroke of the page's waits to be saved, so that nothing painted here is overwritten.
function follow_editor() {
  const card = document.querySelector('.card:not([hidden])');
  element('editor').hidden = !card || !state.rules.levels;
  if (element('editor').hidden) {
    paint.entry = null;
    return;
  }
  const index = Number(card.dataset.entry);
  if (index !== paint.entry || card.dataset.key !== paint.key) {
    [paint.entry, paint.key, paint.pixels, paint.frame, paint.version] = [index, card.dataset.key, null, 0, null];
    element('editor-text').textContent = '';
  }
  if (paint.version !== state.version && !paint.queue.length && !paint.saving && !paint.stroke) load_pixels(index);
}

async function load_pixels(index) {
  const version = state.version;
  paint.version = version;
  const response = await api('/api/pixels?entry=' + index).catch(() => null);
  if (paint.entry !== index || paint.queue.length || paint.stroke || version !== state.version) return;
  if (!response || !response.ok) {
    paint.pixels = null;
    element('editor-text').textContent = response ? await response.text() : 'The studio does not answer.';
    return;
  }
  paint.pixels = await response.json();
  paint.frame = Math.min(paint.frame, paint.pixels.frames - 1);
  element('editor-text').textContent = '';
  show_frames();
  show_colour();
  draw();
}

// The frame chooser and onion skin, for an entry with frames.
function show_frames() {
  const frames = paint.pixels.frames;
  const chooser = element('frame');
  if (chooser.length !== frames)
    chooser.replaceChildren(...[...Array(frames).keys()].map((n) => make('option', {value: n, text: `${n + 1} of ${frames}`})));
  chooser.value = paint.frame;
  element('frame-choice').hidden = element('onion-choice').hidden = frames < 2;
}

// The pixel under the pointer, or null beside the canvas.
function pixel_at(event) {
  const box = element('pixel-editor').getBoundingClientRect();
  const side = paint.pixels.side;
  const x = Math.floor(((event.clientX - box.left) / box.width) * side);
  const y = Math.floor(((event.clientY - box.top) / box.height) * side);
  return x >= 0 && y >= 0 && x < side && y < side ? {x, y} : null;
}

// One step of the device's levels up or down on the chosen channel, as state.rules.levels says a
// pixel byte holds it; at the last level it stays.
function level_step(code, step) {
  const {shift, count} = state.rules.levels[element('level-channel').value];
  const unit = 2 ** shift;
  const level = Math.floor(code / unit) % count;
  return code + (Math.min(count - 1, Math.max(0, level + step)) - level) * unit;
}

// What `tool` does to the pixel at `at` of the painted frame; a level brush moves a pixel once a stroke.
function apply_tool(tool, at) {
  const layer = paint.pixels.layer[paint.frame];
  if (tool === 'Eraser') layer[at] = -1;
  else if (tool !== 'Level up' && tool !== 'Level down') layer[at] = paint.colour;
  else if (!paint.stroke.seen.has(at)) {
    paint.stroke.seen.add(at);
    layer[at] = level_step(shown_code(paint.frame, at), tool === 'Level up' ? 1 : -1);
  }
}

// The tool at a point, and at its mirror across the vertical axis when the mirror is on.
function brush(tool, {x, y}) {
  const side = paint.pixels.side;
  apply_tool(tool, y * side + x);
  if (paint.mirror && side - 1 - x !== x) apply_tool(tool, y * side + side - 1 - x);
}

// Every pixel from `from` to `to` in a straight line, both ends included.
function line_points(from, to) {
  const steps = Math.max(Math.abs(to.x - from.x), Math.abs(to.y - from.y));
  return [...Array(steps + 1).keys()].map((n) => ({
    x: Math.round(from.x + ((to.x - from.x) * n) / (steps || 1)),
    y: Math.round(from.y + ((to.y - from.y) * n) / (steps || 1)),
  }));
}

function rectangle_points(a, b) {
  const corners = [a, {x: b.x, y: a.y}, b, {x: a.x, y: b.y}, a];
  return corners.slice(1).flatMap((corner, n) => line_points(corners[n], corner));
}

// The pixels that fill gives: those of one shown colour, connected (or anywhere in the frame).
function region(from, everywhere) {
  const side = paint.pixels.side;
  const wanted = shown_code(paint.frame, from.y * side + from.x);
  if (everywhere) return [...Array(side * side).keys()].filter((at) => shown_code(paint.frame, at) === wanted);
  const found = new Set([from.y * side + from.x]);
  const waiting = [...found];
  while (waiting.length) {
    const at = waiting.pop();
    const [x, y] = [at % side, Math.floor(at / side)];
    for (const [nx, ny] of [[x - 1, y], [x + 1, y], [x, y - 1], [x, y + 1]]) {
      const next = ny * side + nx;
      if (nx < 0 || ny < 0 || nx >= side || ny >= side || found.has(next)) continue;
      if (shown_code(paint.frame, next) !== wanted) continue;
      found.add(next);
      waiting.push(next);
    }
  }
  return [...found];
}

function fill(from, everywhere) {
  const side = paint.pixels.side;
  const points = region(from, everywhere);
  if (paint.mirror && !everywhere) points.push(...region({x: side - 1 - from.x, y: from.y}, false));
  for (const at of points) paint.pixels.layer[paint.frame][at] = paint.colour;
}

// A press on the canvas: picks, fills, or starts a stroke that the pointer's moves carry on.
function press(event) {
  if (!paint.pixels || !state.editable || event.button !== 0 || paint.stroke) return;
  const at = pixel_at(event);
  if (!at) return;
  event.preventDefault();
  const tool = event.altKey ? 'Pick colour' : paint.tool;
  if (tool === 'Pick colour') return choose_colour(shown_code(paint.frame, at.y * paint.pixels.side + at.x));
  paint.stroke = {start: at, last: at, before: paint.pixels.layer[paint.frame].slice(), seen: new Set(), tool};
  if (tool === 'Fill' || tool === 'Replace colour') {
    fill(at, tool === 'Replace colour');
    return end_stroke();
  }
  element('pixel-editor').setPointerCapture(event.pointerId);
  stroke_to(at);
}

// Carries the stroke to `at`: a freehand tool paints every pixel on the way, a line or a
// rectangle is drawn again from where the stroke began.
function stroke_to(at) {
  const stroke = paint.stroke;
  if (stroke.tool === 'Line' || stroke.tool === 'Rectangle') {
    paint.pixels.layer[paint.frame] = stroke.before.slice();
    const points = stroke.tool === 'Line' ? line_points(stroke.start, at) : rectangle_points(stroke.start, at);
    for (const point of points) brush('Pencil', point);
  } else {
    for (const point of line_points(stroke.last, at)) brush(stroke.tool, point);
  }
  stroke.last = at;
  draw();
}

function pointer_move(event) {
  const at = paint.stroke && pixel_at(event);
  if (at) stroke_to(at);
}

// The stroke ends: if it changed a pixel, it is queued to be saved, one edit.
function end_stroke() {
  const stroke = paint.stroke;
  paint.stroke = null;
  if (!stroke) return;
  draw();
  const layer = paint.pixels.layer[paint.frame];
  if (layer.every((value, at) => value === stroke.before[at])) return;
  queue_save(paint.pixels.layer.map((frame) => frame.slice()));
}

function queue_save(layer) {
  paint.queue.push({entry: paint.entry, layer});
  if (paint.refused) say_refused();
  else save_queue();
}

// Saves the waiting strokes one after the other, each against the version the last answer gave;
// a refused one stays first in the queue, with every stroke after it, to be tried again.
async function save_queue() {
  if (paint.saving || paint.refused) return;
  paint.saving = busy = true;
  try {
    while (paint.queue.length && !paint.refused) {
      const {entry, layer} = paint.queue[0];
      const response = await api('/api/touch?' + new URLSearchParams({entry, version: state.version}), {
        method: 'POST', body: JSON.stringify({layer}), headers: {'Content-Type': 'application/json'}});
      if (!response.ok) {
        paint.refused = await response.text();
        break;
      }
      state = await response.json();
      paint.queue.shift();
      if (entry === paint.entry && !paint.queue.length) paint.version = state.version;
      render();
    }
  } catch (error) {
    paint.refused = 'The studio does not answer: ' + error.message;
  } finally {
    paint.saving = busy = false;
  }
  if (paint.refused) await refused();
}

// Says why the studio refused a stroke, and keeps it and those after it for "Retry saving"; the
// project is read again, for the version a retry is made against.
async function refused() {
  say_refused();
  await load_state().catch(() => {});
}

function say_refused() {
  const count = paint.queue.length;
  show_message(`Touch-up not saved: ${paint.refused.trim()}\n` +
               `${count === 1 ? '1 stroke is' : count + ' strokes are'} kept: "Retry saving" tries again.`);
  element('retry-save').hidden = false;
}

function retry_save() {
  paint.refused = '';
  element('retry-save').hidden = true;
  show_message('');
  save_queue();
}

// "Clear touch-ups": every frame transparent, saved as one stroke.
function clear_touch() {
  if (!paint.pixels || !state.editable) return;
  paint.pixels.layer = paint.pixels.layer.map((frame) => frame.map(() => -1));
  draw();
  queue_save(paint.pixels.layer.map((frame) => frame.slice()));
}

function choose_tool(name) {
  paint.tool = name;
  for (const button of document.querySelectorAll('#editor [data-tool]'))
    button.setAttribute('aria-pressed', String(button.dataset.tool === name));
}

function toggle_mirror() {
  paint.mirror = !paint.mirror;
  element('mirror').setAttribute('aria-pressed', String(paint.mirror));
}

// The colour painted: marked in the grids, the entry's key colour said to paint transparent.
function choose_colour(code) {
  paint.colour = code;
  show_colour();
}

function show_colour() {
  const key = paint.pixels ? paint.pixels.key : null;
  for (const swatch of element('swatches').querySelectorAll('button')) {
    const code = Number(swatch.dataset.code);
    swatch.setAttribute('aria-pressed', String(code === paint.colour));
    swatch.classList.toggle('key', code === key);
    swatch.setAttribute('aria-label', swatch.dataset.colour + (code === key ? ', the key colour: transparent' : ''));
  }
  const current = element('current-colour');
  current.style.background = state.palette[paint.colour];
  current.title = `Painting with ${state.palette[paint.colour]}` + (paint.colour === key ? ', the key colour' : '');
}

// The device's colours as grids of red by green, one per level of blue, as state.rules.levels
// places them in a pixel byte: a neighbour is one level away.
function render_palette() {
  const swatches = element('swatches');
  const levels = state.rules.levels;
  if (swatches.childElementCount) return;
  if (!levels) { // a studio that says nothing of the levels: the colours in byte order
    swatches.append(make('div', {class: 'colour-grid flat'}, ...state.palette.map((colour, code) => swatch(code))));
    return;
  }
  for (let blue = 0; blue < levels.blue.count; ++blue) {
    const grid = make('div', {class: 'colour-grid', role: 'group', 'aria-label': `blue level ${blue + 1}`});
    grid.style.gridTemplateColumns = `repeat(${levels.green.count}, 14px)`;
    for (let red = 0; red < levels.red.count; ++red)
      for (let green = 0; green < levels.green.count; ++green)
        grid.append(swatch(red * 2 ** levels.red.shift + green * 2 ** levels.green.shift + blue * 2 ** levels.blue.shift));
    swatches.append(grid);
  }
  element('level-channel').replaceChildren(...Object.keys(levels).map((name) => make('option', {value: name, text: name})));
  show_colour();
}

function swatch(code) {
  const colour = state.palette[code];
  const button = make('button', {type: 'button', 'data-colour': colour, 'data-code': code,
                                 title: `${colour} (pixel byte ${code})`});
  button.style.background = colour;
  button.addEventListener('click', () => choose_colour(code));
  return button;
}

// The editor's keys, where the focus takes no typing.
function editor_keys(event) {
  if (element('editor').hidden || event.ctrlKey || event.metaKey || event.altKey || takes_text(event.target)) return;
  const key = event.key.toLowerCase();
  if (event.key === 'F') choose_tool('Replace colour');
  else if (key === 'm') toggle_mirror();
  else if (tool_keys[key] && !event.shiftKey) choose_tool(tool_keys[key]);
  else return;
  event.preventDefault();
}

// "New icon" and "New picture": an entry drawn from nothing at the end of its series, shown at once.
async function new_drawn(icon) {
  if (!(await edit('/api/add', {icon: icon ? 1 : 0, drawn: 1}))) return;
  const index = state.entries.map((entry) => entry.icon).lastIndexOf(icon);
  if (index >= 0) select(shown_keys[index]);
  follow_editor();
}

function start_editor() {
  const canvas = element('pixel-editor');
  canvas.addEventListener('pointerdown', press);
  canvas.addEventListener('pointermove', pointer_move);
  canvas.addEventListener('pointerup', end_stroke);
  canvas.addEventListener('pointercancel', end_stroke);
  for (const button of document.querySelectorAll('#editor [data-tool]'))
    button.addEventListener('click', () => choose_tool(button.dataset.tool));
  choose_tool('Pencil');
  element('mirror').addEventListener('click', toggle_mirror);
  for (const id of ['grid', 'overlay', 'onion']) element(id).addEventListener('change', draw);
  element('frame').addEventListener('change', () => {
    paint.frame = Number(element('frame').value);
    draw();
  });
  element('clear-touch').addEventListener('click', clear_touch);
  element('retry-save').addEventListener('click', retry_save);
  for (const id of ['new-icon', 'new-picture'])
    element(id).addEventListener('click', () => new_drawn(element(id).dataset.icon === '1'));
  addEventListener('keydown', editor_keys);
}

function start() {
  start_editor();
  for (const zone of document.querySelectorAll('.add')) {
    const kind = zone.dataset.kind;
    accept_drops(zone, (event) => {
      // An entry dragged here goes to the end of this series; files are added.
      const moved = event.dataTransfer.getData('application/x-skin-entry');
      if (moved !== '' && state.editable) move_entry(Number(moved), state.entries.length - 1, kind === 'icon');
      else add_files(kind, [...event.dataTransfer.files]);
    });
    const input = zone.querySelector('input');
    input.addEventListener('change', () => add_files(kind, [...input.files]).then(() => (input.value = '')));
  }
  // A file dropped beside the targets must not replace the page with itself: the browser is told
  // that no drop is taken there.
  window.addEventListener('dragover', (event) => {
    if (event.defaultPrevented) return;
    event.preventDefault();
    event.dataTransfer.dropEffect = 'none';
  });
  window.addEventListener('drop', (event) => event.preventDefault());
  element('zoom').addEventListener('change', size_tiles);
  addEventListener('resize', () => {
    document.documentElement.style.setProperty('--top-height', element('top').offsetHeight + 'px');
    if (['fit', 'device'].includes(element('zoom').value)) size_tiles(); // the window or its screen changed
  });
  element('close-detail').addEventListener('click', () => select(null));
  for (const link of document.querySelectorAll('.download, .palette-download')) link.addEventListener('click', download);
  element('init-button').addEventListener('click', () => edit('/api/init', {}));
  element('undo').addEventListener('click', () => undo_or_redo(false));
  element('redo').addEventListener('click', () => undo_or_redo(true));
  addEventListener('keydown', undo_keys);
  element('stop').addEventListener('click', async () => {
    stopped = true;
    await api('/api/stop', {method: 'POST'}).catch(() => {});
    document.querySelector('main').hidden = true;
    element('stopped').hidden = false;
  });
  // The studio says how often it looks at the disk; the page asks for news as often.
  load_state()
    .then(() => setInterval(poll, state.poll_ms))
    .then(() => setInterval(play_frames, 20))
    .catch((error) => show_message(error.message));
}

start();
