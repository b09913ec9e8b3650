// The platform's own latency, for the tap-to-output benchmark: a page that does nothing but start
// a tone in its worklet at the first render quantum after a pointerdown. Its context is asked for
// the same rate and latency as the instrument's. window.floor gives the benchmark the context and,
// for each press, the event's time and the context frame its tone started at.
const context = new AudioContext({ sampleRate: 44100, latencyHint: 0 });
const sent = [];
const frames = [];

await context.audioWorklet.addModule('floor-worklet.js');
const node = new AudioWorkletNode(context, 'floor', { numberOfInputs: 0, outputChannelCount: [1] });
node.connect(context.destination);
node.port.onmessage = (e) => frames.push(e.data);
document.addEventListener('pointerdown', (e) => {
  if (context.state !== 'running') context.resume();
  sent.push(e.timeStamp);
  node.port.postMessage('start');
});
window.floor = { audio: () => context, presses: () => ({ sent, frames }) };
document.body.dataset.page = 'ready';
document.body.dataset.engine = 'ready';
