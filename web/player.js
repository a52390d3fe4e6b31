// The page around the demo's WebAssembly module: checks for WebGL 2, loads
// the data pack with a bar, asks for the click browsers need before they
// play sound, starts the program, and says on the page what went wrong
// (never a blank or frozen canvas).
//
// Test mode (the page's --frames): ?frames=1&fps=N&size=WxH[&from=S][&to=S];
// ?bench=1 with the same options runs --bench instead (its table in the
// result). &lose=S takes the WebGL context away S seconds into the run and
// gives it back a second later, as a browser does under memory pressure.
// The test mode plays silently with no click, writes the pictures the
// native program's --frames writes, sends each to the serving script (POST
// /upload/NAME) and ends by writing "done N" (then the context's losses,
// the events the program listened to on the canvas and what it printed) or
// "error: ..." into #result and sending it as result.txt.
'use strict';

(function () {
  const params = new URLSearchParams(location.search);
  const bench = params.get('bench') === '1';
  const test = params.get('frames') === '1' || bench;
  const canvas = document.getElementById('canvas');
  const panel = document.getElementById('panel');
  const message = document.getElementById('message');
  const bar = document.getElementById('bar');
  const fill = document.getElementById('fill');
  const start = document.getElementById('start');
  const result = document.getElementById('result');
  const opened = performance.now();
  let readyAfter = 0;
  const errors = [];
  const printed = [];
  let running = false;
  let failed = false;

  function say(text, isError) {
    panel.classList.remove('hidden');
    message.textContent = text;
    message.classList.toggle('error', !!isError);
  }

  // The test's verdict, on the page and to the serving script.
  function report(text) {
    result.textContent = text;
    fetch('/upload/result.txt', { method: 'POST', body: text }).catch(() => {});
  }

  function fail(text) {
    if (failed) return;
    failed = true;
    bar.hidden = true;
    start.hidden = true;
    say(text, true);
    if (test) report('error: ' + text);
  }

  window.addEventListener('error', (e) => fail('The demo stopped: ' + (e.message || e.error || 'an error')));
  window.addEventListener('unhandledrejection', (e) => fail('The demo stopped: ' + (e.reason && e.reason.message || e.reason)));

  const probe = document.createElement('canvas').getContext('webgl2');
  if (!probe) {
    fail('This browser has no WebGL 2, which the demo needs to draw.\n' +
         'A current Firefox, Chrome, Edge or Safari on a computer with a graphics driver has it.');
    return;
  }

  // A lost context comes back like a lost device: the engine waits for it
  // and makes its resources again.
  let losses = 0, returns = 0, canvasInput = '';
  canvas.addEventListener('webglcontextlost', (e) => { e.preventDefault(); ++losses; say('The graphics context was lost; waiting for it to come back…'); }, false);
  canvas.addEventListener('webglcontextrestored', () => { ++returns; if (running && !failed) panel.classList.add('hidden'); }, false);
  function loseContextAfter(seconds) {
    setTimeout(() => {
      const gl = canvas.getContext('webgl2');
      const lose = gl && gl.getExtension('WEBGL_lose_context');
      if (!lose) { errors.push('lose: no WEBGL_lose_context'); return; }
      lose.loseContext();
      setTimeout(() => lose.restoreContext(), 1000);
    }, seconds * 1000);
  }

  function fullscreen() {
    const el = document.getElementById('stage');
    if (!document.fullscreenElement && el.requestFullscreen) el.requestFullscreen().catch(() => {});
  }
  window.addEventListener('keydown', (e) => { if (running && (e.key === 'f' || e.key === 'F')) fullscreen(); });
  canvas.addEventListener('dblclick', fullscreen);

  const args = ['nodialog'];
  if (bench) {
    args.push('--bench', '--fps=' + (params.get('fps') || '1'), '--size=' + (params.get('size') || '480x270'));
    if (params.get('from')) args.push('--from=' + params.get('from'));
    if (params.get('to')) args.push('--to=' + params.get('to'));
  } else if (test) {
    args.push('--frames=/frames', '--fps=' + (params.get('fps') || '1'), '--size=' + (params.get('size') || '480x270'));
    if (params.get('from')) args.push('--from=' + params.get('from'));
    if (params.get('to')) args.push('--to=' + params.get('to'));
  }

  let loaded = false, clicked = test;
  function maybeStart() {
    if (!loaded || !clicked || running || failed) return;
    running = true;
    panel.classList.add('hidden');
    canvas.focus();
    if (test && params.get('lose')) loseContextAfter(Number(params.get('lose')));
    // What the program listens to on the canvas while it runs (its handlers
    // go when it ends).
    if (test) {
      setTimeout(() => {
        if (typeof JSEvents === 'object') canvasInput = JSEvents.eventHandlers.filter((h) => h.target === canvas).map((h) => h.eventTypeString).join(',');
      }, 2000);
    }
    let status = 0;
    try {
      status = Module.callMain(args);
    } catch (e) {
      if (!(e && e.name === 'ExitStatus')) throw e;
      status = e.status;
    }
  }

  async function finished(status) {
    running = false;
    if (test) {
      if (status !== 0) { fail('the program ended with ' + status + ': ' + errors.slice(-5).join('\n')); return; }
      let names = [];
      try { names = FS.readdir('/frames').filter((n) => n.endsWith('.png')).sort(); } catch (e) {}
      for (const name of names) {
        const bytes = FS.readFile('/frames/' + name);
        const r = await fetch('/upload/' + name, { method: 'POST', body: bytes });
        if (!r.ok) { fail('cannot upload ' + name); return; }
      }
      report('done ' + names.length + '\nmodule and data ready ' + Math.round(readyAfter) + ' ms after the page opened\n' +
             'context lost ' + losses + ', given back ' + returns + '\n' +
             'canvas input: ' + canvasInput + '\n' +
             printed.join('\n') + (errors.length ? '\n' + errors.join('\n') : ''));
      say('Done: ' + names.length + ' pictures.');
      return;
    }
    if (status !== 0 && !failed) fail('The demo ended with an error:\n' + errors.slice(-5).join('\n'));
    else say('The show has ended. Reload the page to watch it again.');
  }

  window.Module = {
    canvas: canvas,
    noInitialRun: true,
    print: (text) => { console.log(text); printed.push(text); },
    printErr: (text) => { console.warn(text); errors.push(text); if (errors.length > 50) errors.shift(); },
    setStatus: (text) => {
      // "Downloading data... (done/total)" from the data pack's loader.
      const m = /\((\d+(?:\.\d+)?)\/(\d+)\)/.exec(text || '');
      if (m) {
        bar.hidden = false;
        fill.style.width = (100 * Number(m[1]) / Number(m[2])).toFixed(1) + '%';
        say('Loading the demo… ' + Math.round(Number(m[1]) / 1048576) + ' of ' + Math.round(Number(m[2]) / 1048576) + ' MB');
      }
    },
    veloxMessage: (caption, text) => { if (!test) say(caption + '\n\n' + text); },
    onAbort: (what) => fail('The demo stopped: ' + what),
    onExit: (status) => { finished(status); },
    onRuntimeInitialized: () => {
      readyAfter = performance.now() - opened;
      loaded = true;
      bar.hidden = true;
      if (test) { maybeStart(); return; }
      say('Ready.');
      start.hidden = false;
    },
  };

  start.addEventListener('click', () => {
    start.hidden = true;
    // The music may start only from here; without sound the show still runs
    // on the page's clock.
    try {
      const Ctx = window.AudioContext || window.webkitAudioContext;
      if (Ctx) { Module.veloxAudioContext = new Ctx(); Module.veloxAudioContext.resume(); }
    } catch (e) { /* silent show */ }
    clicked = true;
    maybeStart();
  });

  function load(src) {
    return new Promise((resolve, reject) => {
      const s = document.createElement('script');
      s.src = src;
      s.onload = resolve;
      s.onerror = () => reject(new Error('cannot download ' + src));
      document.body.appendChild(s);
    });
  }
  say('Loading the demo…');
  load('velox-data.js').then(() => load('velox.js')).catch((e) => fail('The demo could not be downloaded: ' + e.message + '.\nCheck the connection and reload the page.'));
})();
