// The page's face: it hands the chosen file to the worker, which runs the
// programs, and shows what they say and what they make. Nothing is uploaded:
// the file goes from the disk to the worker and comes back as a download.
const worker = new Worker('worker.js', { type: 'module' });
const $ = (id) => document.getElementById(id);
const [chooser, drop, progress, messages, result, listen, player] = [
  'wav-file', 'drop', 'progress', 'messages', 'result', 'listen', 'player',
].map($);

let stream = null; // the last stream made: {name, bytes}
let urls = []; // object URLs of the last conversion, released by the next

// Runs one program over one file, as `program inputName outputName` would
// on a command line; resolves to {status, lines, output}.
function run(program, inputName, outputName, bytes) {
  messages.textContent = `$ ${program} ${inputName} ${outputName}\n`;
  progress.value = 0;
  return new Promise((resolve) => {
    worker.onmessage = ({ data }) => {
      if (data.share !== undefined) {
        progress.value = data.share;
        return;
      }
      messages.textContent += data.lines.map((line) => `${line}\n`).join('');
      messages.textContent += `exit status ${data.status}\n`;
      progress.value = 1;
      resolve(data);
    };
    worker.postMessage({ program, inputName, outputName, bytes }, [bytes.buffer]);
  });
}

function urlOf(bytes, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  urls.push(url);
  return url;
}

function setBusy(busy) {
  chooser.disabled = busy;
  listen.disabled = busy || stream === null;
}

async function convert(file) {
  if (chooser.disabled) return;
  stream = null;
  setBusy(true);
  result.replaceChildren();
  player.removeAttribute('src');
  urls.forEach(URL.revokeObjectURL);
  urls = [];
  const name = file.name.replace(/\.wav$/i, '') + '.ima';
  const bytes = new Uint8Array(await file.arrayBuffer());
  const { status, output } = await run('wav2ima', file.name, name, bytes);
  if (status === 0) {
    stream = { name, bytes: output };
    const link = document.createElement('a');
    link.id = 'download';
    link.href = urlOf(output, 'application/octet-stream');
    link.download = name;
    link.textContent = `Download ${name} (${output.byteLength.toLocaleString('en')} bytes)`;
    result.append(link);
  }
  setBusy(false);
}

listen.addEventListener('click', async () => {
  setBusy(true);
  const name = stream.name.replace(/\.ima$/, '') + '-decoded.wav';
  const { status, output } = await run('ima2wav', stream.name, name, stream.bytes.slice());
  if (status === 0) {
    player.src = urlOf(output, 'audio/wav');
    player.play().catch(() => {}); // a browser may hold sound back until asked again
  }
  setBusy(false);
});

chooser.addEventListener('change', () => {
  if (chooser.files.length > 0) convert(chooser.files[0]);
});
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  if (event.dataTransfer.files.length > 0) convert(event.dataTransfer.files[0]);
});
