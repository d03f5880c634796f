// The scene as the host poses it, beside the camera view. This stand-in only says whether the host
// has sent a scene; it is handed every host message of type "scene" and "poses".
export function createPoseView(container) {
  const note = document.createElement('div');
  note.className = 'muted';
  note.style.cssText = 'position:absolute;inset:0;display:flex;align-items:center;justify-content:center';
  note.textContent = 'no scene';
  container.appendChild(note);
  let objects = 0;
  return {
    handleMessage(msg) {
      if (msg.type === 'scene') {
        objects = Array.isArray(msg.objects) ? msg.objects.length : 0;
        note.textContent = objects ? `scene: ${objects} object${objects === 1 ? '' : 's'}` : 'no scene';
      }
    },
  };
}
