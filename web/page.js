// The page: loads the module's WebAssembly build (SIMD128 where the engine
// takes it, portable otherwise or with ?simd=c), and plays its transitions
// on the canvas one step at a time, as the host plays them.
'use strict';

// The smallest module holding a SIMD128 instruction: an engine without
// SIMD128 refuses it, and would refuse the whole SIMD128 build the same way.
const kSimdProbe = new Uint8Array([
  0, 97, 115, 109, 1,  0, 0, 0, 1, 5,  1, 96,  0,  1, 123,
  3, 2,  1,   0,   10, 8, 1, 6, 0, 65, 0, 253, 15, 11
]);
// How long a finished playback holds its last frame before a loop starts again.
const kLoopHoldMs = 700;
// The canvas grows by whole factors up to this, and to this height in CSS
// pixels; a thumbnail fits in its box.
const kMaxZoom = 64, kViewHeight = 640;
const kThumbWidth = 96, kThumbHeight = 64;
const kBuiltinNames = ['the built-in first picture', 'the built-in second picture'];

function wantSimd() {
  return new URLSearchParams(location.search).get('simd') !== 'c' &&
      WebAssembly.validate(kSimdProbe);
}

// preview.html holds each script inline in a text/plain element of its name,
// with a backslash added after each "<" before "/script" or "!--" (and any
// backslashes), which is taken away again (scripts/make-preview.py).
function loadScript(src) {
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    const inline = document.getElementById(src);
    if (inline) {
      script.text = inline.text.replace(/<\\(\\*)(\/script|!--)/gi, '<$1$2');
      document.head.appendChild(script);
      return resolve();
    }
    script.src = src;
    script.onload = resolve;
    script.onerror = () => reject(new Error(src + ' did not load'));
    document.head.appendChild(script);
  });
}

// The module's calls, each failure thrown with the module's own reason.
class Player {
  static async load(simd) {
    await loadScript(simd ? 'orvweb-simd128.js' : 'orvweb-portable.js');
    const player = new Player(await OrvWeb());
    const about = player.m._orv_start();
    if (!about) player.fail('starting the module');
    player.about = JSON.parse(player.m.UTF8ToString(about));
    return player;
  }

  constructor(m) {
    this.m = m;
  }

  // The module's reason, after what failed when the reason does not say it.
  fail(what) {
    const reason = this.m.UTF8ToString(this.m._orv_error());
    throw new Error(what ? what + ': ' + reason : reason);
  }

  size() {
    return {width: this.m._orv_width(0), height: this.m._orv_height(0)};
  }

  useBuiltin() {
    if (this.m._orv_use_builtin()) this.fail('the built-in pictures');
  }

  swapPictures() {
    this.m._orv_swap_pictures();
  }

  // Picture 0 or 1 sampled to width x height, as an ImageData over the
  // module's memory: draw it before the next call.
  thumbnail(which, width, height) {
    const at = this.m._orv_thumbnail(which, width, height) >>> 0;
    if (!at) this.fail('a thumbnail');
    return new ImageData(
        new Uint8ClampedArray(this.m.HEAPU8.buffer, at, width * height * 4), width, height);
  }

  // An ImageData (R, G, B, A) as picture 0 (first) or 1 (second).
  setPicture(which, image) {
    const bytes = image.data.length;
    const at = this.m._malloc(bytes) >>> 0;
    if (!at) throw new Error('out of memory: the page\'s module grows to 4 GB at most');
    try {
      this.m.HEAPU8.set(image.data, at);
      // Its reason names the picture.
      if (this.m._orv_set_picture(which, at, image.width, image.height)) this.fail('');
    } finally {
      this.m._free(at);
    }
  }

  // Throws the module's reason when a picture of this size, named so, is
  // past the limits.
  checkSize(name, width, height) {
    const bytes = new TextEncoder().encode(name + '\0');
    const at = this.m._malloc(bytes.length) >>> 0;
    if (!at) throw new Error('out of memory: the page\'s module grows to 4 GB at most');
    try {
      this.m.HEAPU8.set(bytes, at);
      if (this.m._orv_size_problem(at, width, height)) this.fail('');
    } finally {
      this.m._free(at);
    }
  }

  // s: {index, depth, duration, chunk, fps, color (-1: none), rect: [top, left, bottom, right]}
  cue(s) {
    if (this.m._orv_cue(s.index, s.depth, s.duration, s.chunk, s.fps, s.color, ...s.rect))
      this.fail('');
    this.duration = s.duration;
    this.fps = s.fps;
  }

  // orvplay's step times: step k at k * 1000 / fps ms, rounded down, up to
  // and including the first past the duration.
  stepTime(k) {
    return Math.floor(k * 1000 / this.fps);
  }
  steps() {
    let k = Math.floor(this.duration * this.fps / 1000);
    while (this.stepTime(k) <= this.duration) ++k;
    return k + 1;
  }

  // True once the actor reports done.
  continue(elapsed) {
    const done = this.m._orv_continue(elapsed);
    if (done < 0) this.fail('Continue at ' + elapsed + ' ms');
    return done === 1;
  }

  finish() {
    if (this.m._orv_finish()) this.fail('Finish');
  }

  // What the window shows now, as an ImageData over the module's memory: draw
  // or copy it before the next call.
  frame() {
    const at = this.m._orv_frame() >>> 0;
    if (!at) this.fail('reading the window');
    const {width, height} = this.size();
    return new ImageData(
        new Uint8ClampedArray(this.m.HEAPU8.buffer, at, width * height * 4), width, height);
  }
}

// A picture file's kind and size from its header ({type, width, height}),
// read before anything is decoded; null when it is neither PNG nor JPEG.
async function pictureHeader(file) {
  // The file read in blocks: a JPEG's frame header may follow large segments.
  const kBlock = 1 << 16;
  let blockAt = -1, block = new Uint8Array(0);
  const byte = async at => {
    if (at < blockAt || at >= blockAt + block.length) {
      if (at >= file.size) return -1;
      blockAt = at;
      block = new Uint8Array(await file.slice(at, at + kBlock).arrayBuffer());
    }
    return block[at - blockAt];
  };
  const be = async (at, n) => {
    let v = 0;
    for (let i = 0; i < n; ++i) {
      const b = await byte(at + i);
      if (b < 0) return -1;
      v = v * 256 + b;
    }
    return v;
  };
  // PNG: the signature, then IHDR (length 13) with the width and height.
  const png = [137, 80, 78, 71, 13, 10, 26, 10, 0, 0, 0, 13, 73, 72, 68, 82];
  let isPng = true;
  for (let i = 0; i < png.length && isPng; ++i) isPng = (await byte(i)) === png[i];
  if (isPng) {
    const width = await be(16, 4), height = await be(20, 4);
    return height < 0 ? null : {type: 'image/png', width, height};
  }
  // JPEG: segments, each with its length, up to the first frame header
  // (SOF0 to SOF15 but DHT, JPG and DAC), which holds the height and width.
  if ((await be(0, 2)) !== 0xFFD8) return null;
  for (let at = 2;;) {
    if ((await byte(at)) !== 0xFF) return null;
    const marker = await byte(at + 1);
    if (marker === 0xFF) {  // a fill byte
      at += 1;
    } else if (marker === 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
    } else if (marker < 0 || marker === 0xD8 || marker === 0xD9 || marker === 0xDA) {
      return null;  // the end, or a scan, before any frame
    } else if (
        marker >= 0xC0 && marker <= 0xCF && marker !== 0xC4 && marker !== 0xC8 && marker !== 0xCC) {
      const height = await be(at + 5, 2), width = await be(at + 7, 2);
      return width < 0 ? null : {type: 'image/jpeg', width, height};
    } else {
      const length = await be(at + 2, 2);
      if (length < 2) return null;
      at += 2 + length;
    }
  }
}

// A picture file as R, G, B, A (an ImageData), without colour conversion:
// the bytes the file holds. Its size is checked against the limits from its
// header first, so a picture past them is never decoded.
async function decodePicture(file, player) {
  const header = await pictureHeader(file);
  if (!header) throw new Error(file.name + ': not a PNG or JPEG picture');
  player.checkSize(file.name, header.width, header.height);
  // A browser without ImageDecoder draws it: the colour under a transparent
  // pixel is lost there.
  return header.type === 'image/png' && typeof ImageDecoder === 'function' ?
      decodePng(file, header) :
      decodeDrawn(file);
}

// A PNG as orvplay reads it: ImageDecoder leaves the colour under alpha
// unpremultiplied, takes a 16-bit sample's high byte, and ignores gAMA and
// iCCP when asked for no conversion; a canvas would premultiply.
async function decodePng(file, header) {
  let decoder, frame;
  try {
    decoder = new ImageDecoder({
      data: await file.arrayBuffer(),
      type: header.type,
      colorSpaceConversion: 'none',
      premultiplyAlpha: 'none',
    });
    frame = (await decoder.decode({frameIndex: 0})).image;
  } catch (e) {
    decoder?.close();
    throw new Error(
        file.name + ': this browser cannot decode it as a PNG picture (' + e.message + ')');
  }
  try {
    const {width, height} = frame.visibleRect;
    // The channels' order in each 4-byte pixel, as R, G, B.
    const order = {RGBA: [0, 1, 2], RGBX: [0, 1, 2], BGRA: [2, 1, 0], BGRX: [
                     2, 1, 0
                   ]}[frame.format];
    if (!order || frame.allocationSize() !== width * height * 4)
      throw new Error(
          file.name + ': the browser decoded it as ' + frame.format +
          ' pixels, which the page cannot read');
    const image = new ImageData(width, height);
    const data = image.data;
    await frame.copyTo(data);
    const [r, , b] = order;
    for (let i = 0; i < data.length; i += 4) {
      const red = data[i + r], blue = data[i + b];
      data[i] = red;
      data[i + 2] = blue;
      data[i + 3] = 255;
    }
    return image;
  } finally {
    frame.close();
    decoder.close();
  }
}

// A picture as the browser draws it on a canvas, without colour conversion.
async function decodeDrawn(file) {
  let bitmap;
  try {
    bitmap =
        await createImageBitmap(file, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
  } catch (e) {
    throw new Error(file.name + ': this browser cannot decode it as a picture');
  }
  const {width, height} = bitmap;
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  const context = canvas.getContext('2d', {willReadFrequently: true});
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  return context.getImageData(0, 0, width, height);
}

const $ = id => document.getElementById(id);

class Page {
  constructor(player) {
    this.player = player;
    this.canvas = $('canvas');
    this.context = this.canvas.getContext('2d');
    this.cued = false;  // a playback is cued and not yet finished
    this.finished = false;
    this.elapsed = 0;        // the elapsed time of the frame shown
    this.step = -1;          // Continue calls since Cue (-1: none yet)
    this.onSchedule = true;  // every step so far at its step time, as orvplay plays it
    this.playing = false;
    this.clock = 0;    // performance.now() at elapsed 0 of this play
    this.recent = [];  // the steps of the last second: when each ended, how long it took
    this.fps = 0;
    this.workMs = 0;
    this.names = kBuiltinNames.slice();
    this.fill();
    this.wire();
  }

  fill() {
    const about = this.player.about;
    $('kernels').textContent = '· ' + about.kernels + ' kernels';
    for (const t of about.transitions)
      $('transition')
          .add(new Option(t.name === t.symbol ? t.name : t.name + ' (' + t.symbol + ')', t.symbol));
    about.colors.forEach((name, i) => $('color').add(new Option(name, i)));
    $('color').value = about.defaultColor;
    this.defaults();
  }

  transition() {
    return this.player.about.transitions[$('transition').selectedIndex];
  }

  defaults() {
    const t = this.transition();
    $('duration').value = t.duration;
    $('chunk').value = t.chunk;
    $('colorLabel').hidden = !t.color;
  }

  wire() {
    $('transition').onchange = () => {
      this.defaults();
      this.changed();
    };
    for (const id
             of ['duration', 'chunk', 'fps', 'color', 'depth', 'useRect', 'top', 'left', 'bottom',
                 'right'])
      $(id).onchange = () => this.changed();
    $('builtin').onclick = () => this.run(() => {
      this.player.useBuiltin();
      this.names = kBuiltinNames.slice();
      this.resized();
    });
    $('swap').onclick = () => this.run(() => {
      this.player.swapPictures();
      this.names.reverse();
      this.resized();
    });
    window.addEventListener('resize', () => this.scale());
    // The two choosers play once both hold a picture.
    const chosen = () => [...$('first').files, ...$('second').files];
    $('first').onchange = $('second').onchange = () =>
        chosen().length === 2 && this.choose(chosen());
    const drop = $('drop');
    drop.ondragover = e => {
      e.preventDefault();
      drop.classList.add('over');
    };
    drop.ondragleave = () => drop.classList.remove('over');
    drop.ondrop = e => {
      e.preventDefault();
      drop.classList.remove('over');
      this.choose([...e.dataTransfer.files]);
    };
    $('play').onclick = () => (this.playing ? this.pause() : this.play());
    // Step and the slider go by orvplay's steps: a frame depends on the steps
    // before it, so going to step k plays steps 0 to k from Cue. After the end,
    // Step starts over.
    $('step').onclick = () => this.run(() => {
      this.pause();
      this.toStep(this.cued && !this.finished && this.onSchedule ? this.step + 1 : 0);
    });
    $('restart').onclick = () => this.run(() => {
      this.pause();
      this.cue();
    });
    $('scrub').oninput = () => {
      const k = +$('scrub').value;  // before pausing shows the current step there
      this.run(() => {
        this.pause();
        this.toStep(k);
      });
    };
  }

  // Runs what the user asked; a failure stops the playback and shows why.
  run(action) {
    try {
      action();
      $('error').textContent = '';
    } catch (e) {
      // Nothing stays on show that no longer holds.
      this.pause();
      this.cued = false;
      this.finished = false;
      this.step = -1;
      this.elapsed = 0;
      this.context.clearRect(0, 0, this.canvas.width, this.canvas.height);
      $('error').textContent = e.message;
    }
    this.show();
  }

  async choose(files) {
    if (files.length !== 2) {
      if (files.length > 0)
        $('error').textContent = files.length === 1 ?
            'Choose two pictures: ' + files[0].name + ' is the first, the second is missing.' :
            'Choose two pictures, the first and the second (' + files.length + ' given).';
      return;
    }
    let changed = false;
    try {
      const [a, b] = await Promise.all(files.map(f => decodePicture(f, this.player)));
      if (a.width !== b.width || a.height !== b.height)
        throw new Error(
            'The two pictures differ in size: ' + files[0].name + ' is ' + a.width + ' × ' +
            a.height + ', ' + files[1].name + ' is ' + b.width + ' × ' + b.height + '.');
      this.run(() => {
        changed = true;
        this.player.setPicture(0, a);
        this.player.setPicture(1, b);
        this.names = files.map(f => f.name);
        this.resized();
      });
    } catch (e) {
      const said = e.message.endsWith('.') ? e.message : e.message + '.';
      $('error').textContent = said + (changed ? '' : ' The previous pictures are kept.');
    }
  }

  // New pictures: the thumbnails, the rectangle and the canvas follow them.
  resized() {
    const {width, height} = this.player.size();
    this.canvas.width = width;
    this.canvas.height = height;
    this.scale();
    this.thumbnails(width, height);
    for (const [id, max] of [
             ['top', height - 1], ['left', width - 1], ['bottom', height], ['right', width]])
      $(id).max = max;
    $('top').value = 0;
    $('left').value = 0;
    $('bottom').value = height;
    $('right').value = width;
    this.cue();
  }

  // Each picture small beside its name, which says which is first.
  thumbnails(width, height) {
    const fit = Math.min(1, kThumbWidth / width, kThumbHeight / height);
    const w = Math.max(1, Math.round(width * fit)), h = Math.max(1, Math.round(height * fit));
    for (const which of [0, 1]) {
      const thumb = $('thumb' + which);
      thumb.width = w;
      thumb.height = h;
      // A small picture's thumbnail grows by a whole factor too.
      thumb.style.width =
          w * Math.max(1, Math.floor(Math.min(kThumbWidth / w, kThumbHeight / h))) + 'px';
      thumb.getContext('2d').putImageData(this.player.thumbnail(which, w, h), 0, 0);
      $('name' + which).textContent = this.names[which];
      thumb.setAttribute(
          'aria-label',
          (which ? 'the second picture, ' : 'the first picture, ') + this.names[which]);
    }
  }

  // The canvas on the page: up by the largest whole factor that fits, with
  // square pixels, so that a small picture is more than a speck; down to
  // fit the page's width otherwise.
  scale() {
    const {width, height} = this.canvas;
    const room = $('view').clientWidth || width;
    const factor =
        Math.max(1, Math.min(kMaxZoom, Math.floor(room / width), Math.floor(kViewHeight / height)));
    this.canvas.style.width = width * factor + 'px';
    this.canvas.classList.toggle('crisp', factor > 1);
    const shown = Math.min(width * factor, room) / width;
    $('size').textContent = width + ' × ' + height + ' pixels, shown at ' +
        (shown >= 1 ? '× ' + Math.round(shown) : Math.round(shown * 100) + ' %');
  }

  settings() {
    const {width, height} = this.player.size();
    const t = this.transition();
    // A field's number, or why not in the field's own words.
    const number = (id, what, least) => {
      const field = $(id);
      if (field.validity.badInput) throw new Error(what + ' must be a number.');
      if (field.value.trim() === '') throw new Error(what + ' is empty.');
      const v = Number(field.value);
      if (!Number.isInteger(v)) throw new Error(what + ' must be a whole number.');
      if (least !== undefined && v < least)
        throw new Error(what + ' must be at least ' + least + '.');
      return v;
    };
    const s = {
      index: $('transition').selectedIndex,
      depth: +$('depth').value,
      duration: number('duration', 'The duration', 1),
      chunk: number('chunk', 'The chunk size', 1),
      fps: number('fps', 'Steps per second', 1),
      color: t.color ? +$('color').value : -1,
      rect: [0, 0, height, width],
    };
    if ($('useRect').checked)
      s.rect = ['top', 'left', 'bottom', 'right'].map(id => number(id, 'The rectangle\'s ' + id));
    return s;
  }

  changed() {
    $('rect').hidden = !$('useRect').checked;
    this.run(() => {
      this.pause();
      this.cue();
    });
  }

  cue() {
    this.cued = false;
    const s = this.settings();
    this.player.cue(s);
    this.cued = true;
    this.finished = false;
    this.onSchedule = true;
    this.step = -1;
    this.elapsed = 0;
    $('scrub').max = this.player.steps() - 1;
    this.draw();
  }

  // One step at elapsed time t.
  advance(t) {
    this.elapsed = t;
    this.step += 1;
    if (this.player.continue(t)) {
      this.player.finish();
      this.finished = true;
    }
  }

  // Shows orvplay's step k (frame-k, or final after Finish for the last):
  // cued again unless the steps so far lead there.
  toStep(k) {
    if (!this.cued || this.finished || !this.onSchedule || k <= this.step) this.cue();
    while (this.step < k && !this.finished) this.advance(this.player.stepTime(this.step + 1));
    this.draw();
  }

  // Plays on to elapsed time t (Play, in real time); back in time cues the
  // actor again. A late frame past the end steps no later than orvplay's last
  // step, within the times the module checked the duration for.
  stepTo(t) {
    if (!this.cued || this.finished || t < this.elapsed) this.cue();
    const last = this.player.stepTime(this.player.steps() - 1);
    t = Math.max(0, Math.min(Math.round(t), last));
    if (t !== this.player.stepTime(this.step + 1)) this.onSchedule = false;
    this.advance(t);
    this.draw();
  }

  draw() {
    this.context.putImageData(this.player.frame(), 0, 0);
  }

  play() {
    if (!this.cued || this.finished) this.run(() => this.cue());
    if (!this.cued) return;
    this.playing = true;
    this.clock = performance.now() - this.elapsed;
    this.recent = [];
    requestAnimationFrame(now => this.tick(now));
    this.show();
  }

  pause() {
    this.playing = false;
    this.show();
  }

  tick(now) {
    if (!this.playing) return;
    if (this.finished) {
      // The last frame holds a moment; then a loop cues again.
      if (!$('loop').checked) return this.pause();
      if (now - this.clock - this.elapsed < kLoopHoldMs)
        return requestAnimationFrame(n => this.tick(n));
      this.run(() => this.cue());
      this.clock = now;
    }
    const start = performance.now();
    this.run(() => this.stepTo(Math.max(this.elapsed, now - this.clock)));
    this.measure(start, performance.now());
    if (this.playing) requestAnimationFrame(n => this.tick(n));
  }

  // Frames a second and the time of a step with its drawing, over the last
  // second of playing.
  measure(start, end) {
    this.recent.push({end, work: end - start});
    while (this.recent[0].end < end - 1000) this.recent.shift();
    const n = this.recent.length;
    this.fps = n > 1 ? (n - 1) * 1000 / (end - this.recent[0].end) : 0;
    this.workMs = this.recent.map(r => r.work).sort((a, b) => a - b)[n >> 1];
  }

  show() {
    $('play').textContent = this.playing ? 'Pause' : 'Play';
    $('scrub').value = Math.max(this.step, 0);
    const parts = !this.cued ? ['nothing cued'] :
                               [this.step < 0 ? 'cued' : 'step ' + this.step, this.elapsed + ' ms'];
    if (this.finished) parts.push('finished');
    $('scrub').setAttribute('aria-valuetext', parts.join(', '));
    if (this.playing && this.recent.length > 1)
      parts.push(this.fps.toFixed(1) + ' frames/s', this.workMs.toFixed(1) + ' ms a step');
    $('readout').textContent = parts.join(' · ');
  }
}

// The page's script is loaded last: the controls exist.
window.orvPage = (async () => {
  try {
    const player = await Player.load(wantSimd());
    player.useBuiltin();
    const page = new Page(player);
    page.run(() => page.resized());
    return page;
  } catch (e) {
    // Said on the page; nothing else waits on a page that did not start.
    $('kernels').textContent = '';
    $('error').textContent = 'The module did not start: ' + e.message;
    for (const control of document.querySelectorAll('button, input, select'))
      control.disabled = true;
    return null;
  }
})();
