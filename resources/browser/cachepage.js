(function () {
  'use strict';
  const mirror = location.protocol;
  // Peer connections reach the network past every request rule: only a document from the
  // web itself keeps them.
  function withoutPeers(w) {
    for (const name of ['RTCPeerConnection', 'webkitRTCPeerConnection', 'RTCDataChannel', 'RTCIceCandidate',
                        'RTCSessionDescription', 'RTCRtpSender', 'RTCRtpReceiver', 'RTCRtpTransceiver']) {
      try {
        delete w[name];
        Object.defineProperty(w, name, {value: undefined, writable: false, configurable: false});
      } catch (e) {}
    }
    return w;
  }
  if (mirror !== 'http:' && mirror !== 'https:') {
    // A frame's first blank document gets no script of ours, and the page reaches it at once
    // (window[n], the frame's name, contentWindow). So every frame's window is cleaned wherever
    // a frame can appear: after each DOM call that inserts nodes, when mutation records are
    // delivered (which the parser does before it runs the next script), and when a frame loads.
    // The same watch is kept in each cleaned window, for frames made inside frames.
    const guarded = Symbol();
    const cleanAll = () => cleanFrames(window, 0);
    function cleanFrames(w, depth) {
      let count = 0;
      try { count = w.length; } catch (e) { return; }
      for (let i = 0; i < count && depth < 32; ++i) {
        try { const child = w[i]; guard(child); cleanFrames(child, depth + 1); } catch (e) {}
      }
    }
    function afterCall(proto, name) {
      const f = proto && Object.getOwnPropertyDescriptor(proto, name);
      if (!f || typeof f.value !== 'function')
        return;
      const original = f.value;
      // Left configurable, as the page's own wrappers expect: the original stays out of reach.
      try {
        Object.defineProperty(proto, name, {configurable: true, enumerable: f.enumerable, writable: true,
          value: {[name](...args) { try { return original.apply(this, args); } finally { cleanAll(); } }}[name]});
      } catch (e) {}
    }
    function afterSet(proto, name) {
      const f = proto && Object.getOwnPropertyDescriptor(proto, name);
      if (!f || typeof f.set !== 'function')
        return;
      const set = f.set;
      try {
        Object.defineProperty(proto, name, {configurable: true, enumerable: f.enumerable, get: f.get,
          set(value) { try { set.call(this, value); } finally { cleanAll(); } }});
      } catch (e) {}
    }
    function guard(w) {
      // Another origin's window throws here; its documents get this script of their own.
      if (w[guarded])
        return;
      Object.defineProperty(w, guarded, {value: true});
      withoutPeers(w);
      for (const [type, names] of [
          ['Node', ['appendChild', 'insertBefore', 'replaceChild']],
          ['Element', ['append', 'prepend', 'replaceChildren', 'before', 'after', 'replaceWith',
                       'insertAdjacentElement', 'insertAdjacentHTML', 'setHTMLUnsafe']],
          ['CharacterData', ['before', 'after', 'replaceWith']],
          ['DocumentType', ['before', 'after', 'replaceWith']],
          ['DocumentFragment', ['append', 'prepend', 'replaceChildren']],
          ['Document', ['append', 'prepend', 'replaceChildren', 'write', 'writeln', 'execCommand']],
          ['Range', ['insertNode', 'surroundContents']]])
        for (const name of names)
          afterCall(w[type] && w[type].prototype, name);
      for (const [type, names] of [['Element', ['innerHTML', 'outerHTML']], ['Document', ['body']]])
        for (const name of names)
          afterSet(w[type] && w[type].prototype, name);
      // Frames in shadow trees are not in the window's list: only their elements reach them.
      new w.MutationObserver(cleanAll).observe(w.document, {childList: true, subtree: true});
      w.addEventListener('load', cleanAll, true);
      for (const Element of [w.HTMLIFrameElement, w.HTMLFrameElement, w.HTMLObjectElement]) {
        const view = Object.getOwnPropertyDescriptor(Element.prototype, 'contentWindow');
        const doc = Object.getOwnPropertyDescriptor(Element.prototype, 'contentDocument');
        try {
          Object.defineProperty(Element.prototype, 'contentWindow', {configurable: false, enumerable: true,
            get() { const v = view.get.call(this); if (v) try { guard(v); } catch (e) {} return v; }});
          Object.defineProperty(Element.prototype, 'contentDocument', {configurable: false, enumerable: true,
            get() { const d = doc.get.call(this); if (d && d.defaultView) try { guard(d.defaultView); } catch (e) {} return d; }});
        } catch (e) {}
      }
    }
    try { guard(window); } catch (e) {}
  }
  if (mirror !== 'twhttp:' && mirror !== 'twhttps:')
    return;
  const web = mirror === 'twhttp:' ? 'http:' : 'https:';
  // The page's own web address is its mirror address.
  function own(input) {
    let url;
    try { url = new URL(String(input), location.href); } catch (e) { return null; }
    if (url.protocol === web && url.host === location.host)
      return mirror + url.href.slice(web.length);
    return url.protocol === mirror ? url.href : null;
  }
  const open = XMLHttpRequest.prototype.open;
  XMLHttpRequest.prototype.open = function (method, url, ...rest) {
    const mapped = own(url);
    return open.call(this, method, mapped === null ? url : mapped, ...rest);
  };
  const webFetch = window.fetch;
  window.fetch = function (input, init) {
    const isRequest = typeof Request !== 'undefined' && input instanceof Request;
    const target = own(isRequest ? input.url : input);
    if (target === null)
      return webFetch.apply(this, arguments);
    init = init || {};
    const method = init.method || (isRequest ? input.method : 'GET');
    const headers = new Headers(init.headers || (isRequest ? input.headers : undefined));
    return new Promise((resolve, reject) => {
      const request = new XMLHttpRequest();
      open.call(request, method, target);
      request.responseType = 'arraybuffer';
      headers.forEach((value, name) => { try { request.setRequestHeader(name, value); } catch (e) {} });
      request.onload = () => {
        const answer = new Headers();
        request.getAllResponseHeaders().trim().split(/[\r\n]+/).forEach(line => {
          const colon = line.indexOf(':');
          if (colon > 0)
            try { answer.append(line.slice(0, colon).trim(), line.slice(colon + 1).trim()); } catch (e) {}
        });
        const status = request.status || 200;
        const empty = status === 204 || status === 304 || method === 'HEAD';
        resolve(new Response(empty ? null : request.response, {status: status, statusText: request.statusText, headers: answer}));
      };
      request.onerror = () => reject(new TypeError('Failed to fetch'));
      request.onabort = () => reject(new DOMException('The user aborted a request.', 'AbortError'));
      if (init.signal) {
        if (init.signal.aborted)
          return request.onabort();
        init.signal.addEventListener('abort', () => request.abort());
      }
      request.send(init.body === undefined ? null : init.body);
    });
  };
})();
