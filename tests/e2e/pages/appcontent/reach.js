onmessage = (e) => fetch(e.data).then((r) => r.text()).then((t) => postMessage(t.trim()), () => postMessage('refused'));
