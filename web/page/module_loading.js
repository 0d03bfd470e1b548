// The module and the workers, loaded from the site's files or, in a self-contained page,
// from the sources it carries (script elements of type text/plain).

export function embeddedSource(id) {
  const element = document.getElementById(id);
  return element ? element.textContent : null;
}

// The module's factory, ClipnoteModule, once its script has run.
export async function moduleFactory() {
  const source = embeddedSource("clipnote-module-source");
  if (source !== null && typeof ClipnoteModule === "undefined") {
    await new Promise((resolve, reject) => {
      const script = document.createElement("script");
      script.src = URL.createObjectURL(new Blob([source], { type: "text/javascript" }));
      script.onload = resolve;
      script.onerror = reject;
      document.head.appendChild(script);
    });
  }
  return ClipnoteModule;  // eslint-disable-line no-undef
}

// A worker running `file` (or the page's copy of it, element `id`) with the module before it.
export function createWorker(file, id) {
  const workerSource = embeddedSource(id);
  if (workerSource === null) return new Worker(file);
  const blob = new Blob([embeddedSource("clipnote-module-source"), "\n", workerSource], { type: "text/javascript" });
  return new Worker(URL.createObjectURL(blob));
}

// Keeps the sources of the module and of the workers in the page, as a self-contained page
// carries them, so that every later worker starts from them and the page asks for nothing
// after it has loaded. pairs: [file, element id]; sources the page carries already stay.
export async function keepSources(pairs) {
  for (const [file, id] of pairs) {
    if (document.getElementById(id)) continue;
    const response = await fetch(file);
    if (!response.ok) throw new Error(`${file} could not be loaded`);
    const element = document.createElement("script");
    element.type = "text/plain";
    element.id = id;
    element.textContent = await response.text();
    document.head.appendChild(element);
  }
}
