// Test-only access to what hosts have no use for: the workers' process ids (tests kill them) and
// raw frames (tests send what no host would). Not exported by the package.
export const kTestAccess = Symbol('kest-font-preview test access');

export function rendererPids(service) {
  return service[kTestAccess].pids();
}

// Any frame; resolves with the next `replies` frames whatever their types.
export function sendRaw(renderer, type, json = '', payload = null, options = {}) {
  return renderer[kTestAccess].sendRaw(type, json, payload, options);
}
