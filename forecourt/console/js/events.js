// The event stream: one WebSocket, reopened after any loss with ?after=<last seq seen> so the
// service replays what was missed. Messages are queued and handed over once per frame, so a
// storm of events costs one redraw per frame, not one per event.
import { eventsUrl } from './api.js';

export class EventStream {
  // handlers: { lastSeq(), onBatch(events), onStatus('connecting'|'live'|'lost'), onGap() }
  constructor(handlers) {
    this.handlers = handlers;
    this.queue = [];
    this.socket = null;
    this.retryMs = 250;
    this.flushScheduled = false;
    this.expectSeq = null;  // first seq the replay must start at; a later one is a gap
    this.stopped = false;
  }

  start() {
    this.stopped = false;
    this.open();
  }

  // Reopens at once (a new token, say); the replay picks up where the page is.
  restart() {
    this.close();
    this.start();
  }

  close() {
    this.stopped = true;
    clearTimeout(this.retryTimer);
    if (this.socket) {
      this.socket.onclose = null;
      this.socket.close();
      this.socket = null;
    }
  }

  open() {
    const after = this.handlers.lastSeq();
    this.expectSeq = after === null ? null : after + 1;
    this.handlers.onStatus('connecting');
    const socket = new WebSocket(eventsUrl(after));
    this.socket = socket;
    socket.onopen = () => {
      this.retryMs = 250;
      this.handlers.onStatus('live');
      // With no event seen before the loss there is no point to replay from: read it all.
      if (this.lost && after === null) this.handlers.onGap();
      this.lost = false;
    };
    socket.onmessage = (message) => {
      let event;
      try { event = JSON.parse(message.data); } catch { return; }
      if (event.type === 'resync') {
        // The journal cannot replay what followed our last event: read the state again, as of
        // this event's number, from which the live events go on.
        this.expectSeq = null;
        this.handlers.onResync(event.seq);
        return;
      }
      if (this.expectSeq !== null) {
        // A replay that starts later than asked means the journal no longer holds the gap.
        if (event.seq > this.expectSeq) this.handlers.onGap();
        this.expectSeq = null;
      }
      this.queue.push(event);
      this.scheduleFlush();
    };
    socket.onclose = () => {
      if (this.socket !== socket) return;
      this.socket = null;
      if (this.stopped) return;
      this.lost = true;
      this.handlers.onStatus('lost');
      this.retryTimer = setTimeout(() => this.open(), this.retryMs);
      this.retryMs = Math.min(this.retryMs * 2, 4000);
    };
  }

  scheduleFlush() {
    if (this.flushScheduled) return;
    this.flushScheduled = true;
    const flush = () => {
      this.flushScheduled = false;
      const batch = this.queue;
      this.queue = [];
      if (batch.length) this.handlers.onBatch(batch);
    };
    // A hidden tab gets no animation frames; its events must still be applied.
    if (document.hidden) setTimeout(flush, 100);
    else requestAnimationFrame(flush);
  }
}
