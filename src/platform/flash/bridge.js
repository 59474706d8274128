// Runs before ruffle.js. Routes the page's fetches through the program's URL scheme (the page's
// fetch() refuses custom schemes, and remote servers send no CORS headers), drives the player
// and reports its events to the program as console lines "BRIDGE:" + JSON.
(() => {
    "use strict";
    const self = "zephyrine-flash://player/";
    const errorType = "application/x-zephyrine-fetch-error";

    const emit = (event, detail) =>
        console.log("BRIDGE:" + JSON.stringify(Object.assign({ event }, detail || {})));

    const respond = (url, body, status, statusText, type) => {
        const length = body instanceof Blob ? body.size : body.byteLength;
        const response = new Response(status === 204 || status === 304 ? null : body, {
            status,
            statusText,
            headers: { "Content-Type": type, "Content-Length": String(length) },
        });
        // Ruffle resolves the movie's relative URLs against response.url.
        Object.defineProperty(response, "url", { value: url });
        return response;
    };

    const xhrFetch = (input, init) =>
        new Promise((resolve, reject) => {
            const raw = typeof input === "string" ? input : input instanceof URL ? input.href : input.url;
            let url;
            try {
                url = new URL(raw, document.baseURI);
            } catch (e) {
                reject(new TypeError("Invalid URL: " + raw));
                return;
            }
            let target;
            if (url.href.startsWith(self)) {
                target = url.href;
            } else if (["http:", "https:", "file:"].includes(url.protocol)) {
                target = self + "fetch?url=" + encodeURIComponent(url.href);
            } else {
                reject(new TypeError("URL scheme not allowed: " + url.protocol));
                return;
            }
            const xhr = new XMLHttpRequest();
            xhr.open("GET", target);
            // The player's module comes as a blob: taken as an ArrayBuffer, its 14 MB were copied
            // three times on the page's thread (about 250 ms) before its compile began, and a
            // response over a blob streams it to the compiler. Movies stay ArrayBuffers: the
            // player reads them whole, and reading a blob cost it a frame more per preview.
            const moduleFile = target.startsWith(self + "ruffle/") && target.endsWith(".wasm");
            xhr.responseType = moduleFile ? "blob" : "arraybuffer";
            if (init && init.signal) init.signal.addEventListener("abort", () => xhr.abort());
            xhr.onload = () => {
                const type = xhr.getResponseHeader("Content-Type") || "application/octet-stream";
                const body = xhr.response || new ArrayBuffer(0);
                if (!type.startsWith(errorType)) {
                    resolve(respond(url.href, body, 200, "OK", type));
                    return;
                }
                let info = { status: 0, statusText: "", message: "fetch failed" };
                try {
                    info = JSON.parse(new TextDecoder().decode(body));
                } catch (e) {}
                if (info.status >= 200 && info.status <= 599) {
                    resolve(respond(url.href, new ArrayBuffer(0), info.status, info.statusText, "text/plain"));
                } else {
                    reject(new TypeError(info.message));
                }
            };
            xhr.onerror = () => reject(new TypeError("Failed to fetch " + url.href));
            xhr.onabort = () => reject(new DOMException("The fetch was aborted", "AbortError"));
            xhr.send();
        });
    const hrefOf = (input) => {
        const raw = typeof input === "string" ? input : input instanceof URL ? input.href : input.url;
        try {
            return new URL(raw, document.baseURI).href;
        } catch (e) {
            return null;
        }
    };
    // The movie of the last play, fetched while the player builds its instance for it; the
    // player's own fetch of that URL takes this response, once.
    let prefetched = null;
    window.fetch = (input, init) => {
        if (prefetched && hrefOf(input) === prefetched.href) {
            const response = prefetched.response;
            prefetched = null;
            return response;
        }
        return xhrFetch(input, init);
    };

    // The player element of the movie shown; each load is stamped on it (zSerial), and a
    // player whose last load did not complete is never reused, so no late event of an earlier
    // movie can be taken for the current one.
    let player = null;

    const watchForPanic = (element) => {
        const root = element.shadowRoot;
        if (!root) return;
        let panicked = false;
        new MutationObserver(() => {
            if (panicked || element !== player) return;
            const panic = root.querySelector("#panic");
            if (!panic) return;
            panicked = element.zPanicked = true;
            if (element.zSettled) element.zSettled();
            const body = root.querySelector("#panic-body");
            emit("panic", {
                serial: element.zSerial,
                message: (body ? body.textContent : panic.textContent).trim(),
            });
        }).observe(root, { childList: true, subtree: true });
    };

    // The smallest movie: one frame on a white stage of one pixel. Played at warm-up, it has the
    // player compiled and started before the first real movie comes.
    const blankMovie = new Uint8Array([
        70, 87, 83, 10, 25, 0, 0, 0, 48, 10, 0, 160, 0, 12, 1, 0, 67, 2, 255, 255, 255, 64, 0, 0, 0,
    ]);
    // Requests run in order, after the warm-up's movie has loaded or failed.
    let queue = Promise.resolve();

    const removePlayer = () => {
        if (player) player.remove();
        player = null;
    };

    const newPlayer = () => {
        removePlayer();
        const mine = window.RufflePlayer.newest().createPlayer();
        player = mine;
        mine.addEventListener("loadedmetadata", () => {
            const m = mine.metadata || {};
            emit("metadata", { serial: mine.zSerial, width: m.width, height: m.height, frameRate: m.frameRate });
        });
        mine.addEventListener("loadeddata", () => {
            const loaded = mine.zSerial;
            mine.zLoaded = true;
            if (mine.zSettled) mine.zSettled();
            // Two animation frames: the first frame has then been drawn and composited.
            requestAnimationFrame(() => requestAnimationFrame(() => emit("frame", { serial: loaded })));
        });
        document.getElementById("stage").appendChild(mine);
        watchForPanic(mine);
    };

    window.zephyrineBridge = {
        pageLoaded() {
            if (!window.RufflePlayer || !window.RufflePlayer.newest) {
                emit("missing", { message: "ruffle.js did not load" });
                return;
            }
            window.RufflePlayer.config = Object.assign(window.RufflePlayer.config || {}, {
                publicPath: self + "ruffle/",
                polyfills: false,
            });
            emit("ready");
        },
        // Serial 0 stands for the warm-up; the program's movies count from 1.
        warmUp(options) {
            if (player) return;
            newPlayer();
            const mine = player;
            mine.zSerial = 0;
            queue = new Promise((resolve) => {
                mine.zSettled = resolve;
                mine.ruffle()
                    .load(Object.assign({}, options, { data: blankMovie }))
                    .catch(resolve);
            }).then(() => emit("warm"));
        },
        play(request) {
            const href = hrefOf(request.url);
            prefetched = href && { href, response: xhrFetch(href) };
            // Settled here too, so that a response no player takes is no unhandled rejection.
            if (prefetched) prefetched.response.catch(() => {});
            queue = queue.then(() => {
                if (!player || player.zPanicked || !player.zLoaded) newPlayer();
                const mine = player;
                mine.zSerial = request.serial;
                mine.zLoaded = false;
                mine.ruffle()
                    .load(Object.assign({ url: request.url }, request.options))
                    .catch((e) => emit("error", { serial: request.serial, message: String(e) }));
            });
        },
        // A movie the program refused: the pane shows nothing.
        clear() {
            queue = queue.then(removePlayer);
        },
    };
})();
