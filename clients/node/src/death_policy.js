// What becomes of the fonts a renderer still owed when it ended in the middle of a request; the
// same rules as the C++ preview service.
//
// `owed`: the fonts (positions in the request) without a result, in the order the renderer would
// have handled them. `strikes`: per position, how many renderers ended while it was the suspect;
// updated here. Returns the batches to issue again, first ones first, and the font given up on.
//  - A renderer over its memory limit exited between frames: nobody's fault, all retried.
//  - Otherwise a Render was drawing its first owed font, which becomes the suspect; it is retried
//    alone (a second death then leaves no doubt) and given up on after `strikesToFail`.
//  - A Measure answers a batch at once, so the culprit is found by halving the batch until it is
//    alone.
export function planAfterDeath(isRender, memoryExit, owed, strikes, strikesToFail = 2) {
  const plan = { retry: [], givenUp: null };
  if (!owed.length) return plan;
  if (memoryExit) {
    plan.retry.push(owed);
    return plan;
  }
  if (!isRender && owed.length > 1) {
    plan.retry.push(...halves(owed));
    return plan;
  }
  const [suspect, ...rest] = owed;
  const count = (strikes.get(suspect) ?? 0) + 1;
  strikes.set(suspect, count);
  if (count >= strikesToFail) plan.givenUp = suspect;
  else plan.retry.push([suspect]);
  if (rest.length) plan.retry.push(rest);
  return plan;
}

export const halves = (batch) => {
  const middle = Math.floor(batch.length / 2);
  return [batch.slice(0, middle), batch.slice(middle)];
};
