// A push-fed async iterable: the producer push()es, end()s or fail()s; one consumer iterates.
export class AsyncQueue {
  #items = [];
  #waiting = null;
  #done = false;
  #error = null;
  #onReturn;

  // onReturn runs when the consumer stops early (break, throw): the producer may stop too.
  constructor(onReturn = () => {}) {
    this.#onReturn = onReturn;
  }

  get closed() {
    return this.#done;
  }

  push(value) {
    if (this.#done) return;
    if (this.#waiting) {
      const { resolve } = this.#waiting;
      this.#waiting = null;
      resolve({ value, done: false });
    } else {
      this.#items.push(value);
    }
  }

  end() {
    this.#finish(null);
  }

  fail(error) {
    this.#finish(error);
  }

  #finish(error) {
    if (this.#done) return;
    this.#done = true;
    this.#error = error;
    if (this.#waiting) {
      const { resolve, reject } = this.#waiting;
      this.#waiting = null;
      if (error && !this.#items.length) {
        this.#error = null;
        reject(error);
      }
      else resolve({ value: undefined, done: true });
    }
  }

  // Drops what was pushed but not yet taken (a cancelled request delivers nothing more).
  discard(error) {
    this.#items = [];
    this.#finish(error);
  }

  next() {
    if (this.#items.length) return Promise.resolve({ value: this.#items.shift(), done: false });
    if (this.#done) {
      if (this.#error) {
        const error = this.#error;
        this.#error = null;
        return Promise.reject(error);
      }
      return Promise.resolve({ value: undefined, done: true });
    }
    return new Promise((resolve, reject) => {
      this.#waiting = { resolve, reject };
    });
  }

  return() {
    if (!this.#done) {
      this.#items = [];
      this.#finish(null);
      this.#onReturn();
    }
    return Promise.resolve({ value: undefined, done: true });
  }

  [Symbol.asyncIterator]() {
    return this;
  }
}
