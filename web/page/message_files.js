// A message from the files a person gives the page: a message executable, or a
// bare H.263 clip with an optional speech clip. The module's message reader says
// what each file holds; the clips are copied out of it.

// Resolves to { video, speech, speechHasPrefix } or { reason } for a file that is no message.
export function readMessage(module, files) {
  const message = { video: null, speech: null, speechHasPrefix: false };
  for (const { name, bytes } of files) {
    const m = module;
    const pointer = m._cn_alloc(bytes.length);
    m.HEAPU8.set(bytes, pointer);
    const encodedName = new TextEncoder().encode(`${name}\0`);
    const namePointer = m._cn_alloc(encodedName.length);
    m.HEAPU8.set(encodedName, namePointer);
    const kind = m._cn_read_message(pointer, bytes.length, namePointer);
    m._cn_free(namePointer);
    m._cn_free(pointer);
    if (kind < 0) return { reason: `${name}: ${m.UTF8ToString(m._cn_reason())}` };
    const clip = (offset, size) => (size >= 0 ? bytes.slice(offset, offset + size) : null);
    const video = clip(m._cn_video_offset(), m._cn_video_size());
    const speech = clip(m._cn_speech_offset(), m._cn_speech_size());
    if (video) message.video = video;
    if (speech) {
      message.speech = speech;
      message.speechHasPrefix = m._cn_speech_has_prefix() !== 0;
    }
  }
  return message;
}

export function base64Bytes(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}
