// The bridge's event stream read with fetch: EventSource cannot send the
// Authorization header. Lines are parsed as text/event-stream (id, event,
// data; a blank line ends an event; ":" starts a comment), and a dropped
// stream is opened again after a growing pause with Last-Event-ID, so the
// bridge replays what was missed (or starts with "reset" when it cannot).

const FIRST_PAUSE_MS = 500;
const LONGEST_PAUSE_MS = 10000;

export class EventStream {
  // onOpen(): each time the stream is there; onLost(): each time it is not;
  // onEvent(name, data, id); onState(state, values, live), the state one of
  // connecting, live, lost (values why, seconds), refused, stopped; onRefused(status) when
  // the token is refused.
  constructor({ path = '/v1/events', token, onOpen, onLost, onEvent, onState, onRefused }) {
    Object.assign(this, { path, token, onOpen, onLost, onEvent, onState, onRefused });
    this.lastId = '';
    this.pause = FIRST_PAUSE_MS;
    this.stopped = false;
    this.controller = null;
    this.timer = 0;
  }

  start() {
    this.stopped = false;
    this.connect();
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.timer);
    if (this.controller) this.controller.abort();
    this.onState('stopped', {}, false);
  }

  async connect() {
    if (this.stopped) return;
    this.controller = new AbortController();
    const headers = { Authorization: `Bearer ${this.token}`, Accept: 'text/event-stream' };
    if (this.lastId) headers['Last-Event-ID'] = this.lastId;
    this.onState('connecting', {}, false);
    try {
      const res = await fetch(this.path, { headers, cache: 'no-store', signal: this.controller.signal });
      if (res.status === 401 || res.status === 403) {
        this.stopped = true;
        this.onState('refused', {}, false);
        this.onRefused(res.status);
        return;
      }
      if (!res.ok || !res.body) throw new Error(`the bridge answered ${res.status}`);
      this.onState('live', {}, true);
      this.onOpen();
      await this.read(res.body.getReader());
      if (!this.stopped) this.retry('the stream ended');
    } catch (e) {
      if (this.stopped) return;
      this.retry(e.message || String(e));
    }
  }

  retry(why) {
    const pause = this.pause;
    this.pause = Math.min(this.pause * 2, LONGEST_PAUSE_MS);
    this.onState('lost', { why, seconds: Math.round(pause / 100) / 10 }, false);
    this.onLost();
    this.timer = setTimeout(() => this.connect(), pause);
  }

  async read(reader) {
    const decoder = new TextDecoder();
    let buffer = '';
    let event = { name: '', data: [], id: null };
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      buffer += decoder.decode(value, { stream: true });
      // A line ends at CR, LF or CRLF; a lone CR at the end may still be
      // followed by its LF, so it waits for more.
      let m;
      while ((m = /\r\n|\n|\r(?=[^\n])/.exec(buffer))) {
        const line = buffer.slice(0, m.index);
        buffer = buffer.slice(m.index + m[0].length);
        if (line === '') {
          if (event.id !== null) this.lastId = event.id;
          if (event.data.length) {
            this.pause = FIRST_PAUSE_MS;  // the stream works again
            this.dispatch(event.name || 'message', event.data.join('\n'), this.lastId);
          }
          event = { name: '', data: [], id: null };
          continue;
        }
        if (line.startsWith(':')) continue;
        const colon = line.indexOf(':');
        const field = colon < 0 ? line : line.slice(0, colon);
        let text = colon < 0 ? '' : line.slice(colon + 1);
        if (text.startsWith(' ')) text = text.slice(1);
        if (field === 'event') event.name = text;
        else if (field === 'data') event.data.push(text);
        else if (field === 'id' && !text.includes('\0')) event.id = text;
      }
    }
  }

  dispatch(name, text, id) {
    let data;
    try {
      data = JSON.parse(text);
    } catch {
      data = text;
    }
    try {
      this.onEvent(name, data, id);
    } catch (e) {
      console.error('event handler failed', name, e);
    }
  }
}
