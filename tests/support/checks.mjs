// Checks for the Node test programs (tests/viewer, tests/tracker): a failed check is printed and
// counted, and the test goes on, so one run lists every fault.
export const failures = [];

export function check(ok, message) {
  if (!ok) {
    failures.push(message);
    console.log(`FAIL: ${message}`);
  }
  return ok;
}
