#include "mLivePage.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const char kPage[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vorsk</title>
<style>
html, body { margin: 0; background: #111; color: #ddd; font: 15px/1.4 sans-serif; }
#cam { display: block; width: 100%; height: auto; min-height: 3em; background: #000; }
p { margin: .4em .6em; }
.gone { color: #f96; }
</style></head>
<body><img id="cam" alt=""><p id="camera"></p><p id="uptime"></p>
<script>
(function () {
  'use strict';
  var words = WORDS;
  var cam = document.getElementById('cam'), camera = document.getElementById('camera'),
      uptime = document.getElementById('uptime');
  var key = new URLSearchParams(location.search).get('key');
  var here = location.pathname, statusUrl = here.replace(/[^\/]*$/, 'status.json');
  var pending = null, mode = '', since = 0, later = 0, reachable = true, cameraGone = false, startedBefore = 0;

  function address(path, action) {
    var query = [];
    if (action) query.push('action=' + action);
    if (key !== null) query.push('key=' + encodeURIComponent(key));
    query.push('n=' + Date.now());
    return path + '?' + query.join('&');
  }

  // A new picture or stream loads beside the one shown and takes its place
  // once it shows something, so the page never goes blank meanwhile.
  function watch(how) {
    clearTimeout(later);
    var img = new Image();
    pending = img;
    mode = how;
    since = Date.now();
    img.alt = '';
    img.onload = function () {
      show(img);
      if (how === 'snapshot' && pending === img) later = setTimeout(watch, 1000, 'snapshot');
    };
    img.onerror = function () {
      if (pending !== img) return;
      if (how === 'stream') watch('snapshot');
      else later = setTimeout(watch, 2000, 'snapshot');
    };
    img.src = address(here, how);
  }

  function show(img) {
    if (img === cam || pending !== img) return;
    img.id = 'cam';
    var old = cam;
    cam = img;
    old.parentNode.replaceChild(img, old);
    old.onload = old.onerror = null;
    old.removeAttribute('src');
  }

  // A stream that shows nothing for five seconds is one held back on its
  // way (a proxy that keeps it): a picture a second instead.
  setInterval(function () {
    if (pending && pending.naturalWidth) show(pending);
    else if (mode === 'stream' && Date.now() - since > 5000) watch('snapshot');
  }, 500);

  function duration(seconds) {
    var d = Math.floor(seconds / 86400), text = d ? d + ' d ' : '';
    return text + [3600, 60, 1].map(function (unit, i) {
      var n = Math.floor(seconds / unit) % (i ? 60 : 24);
      return (n < 10 ? '0' : '') + n;
    }).join(':');
  }

  function tell(status) {
    var gone = !!status && status.camera.state !== 'live';
    camera.className = gone ? 'gone' : '';
    camera.textContent = !status ? '' : gone
        ? words.gone.replace('%1', new Date(status.camera.since).toLocaleString()) : words.live;
    uptime.textContent = status ? words.uptime + ': ' + duration(status.uptime) : '';
    // The camera back, or a server started anew since the last look (its
    // start, now less its uptime, later than then): the stream may have ended.
    var started = status ? Date.now() / 1000 - status.uptime : startedBefore;
    if ((cameraGone && status && !gone) || (startedBefore && started > startedBefore + 2)) watch('stream');
    cameraGone = gone;
    startedBefore = started;
  }

  async function poll() {
    var stop = new AbortController(), timer = setTimeout(function () { stop.abort(); }, 4000);
    try {
      var answer = await fetch(address(statusUrl), {cache: 'no-store', signal: stop.signal});
      var status = answer.ok ? await answer.json() : null;
      if (!reachable) watch('stream');
      reachable = true;
      tell(status);
    } catch (failure) {
      reachable = false;
      camera.className = 'gone';
      camera.textContent = words.noAnswer;
    } finally {
      clearTimeout(timer);
      setTimeout(poll, 5000);
    }
  }

  watch('stream');
  poll();
})();
</script></body></html>
)";

// The words as a script's object literal: JSON, with what could end the
// script or start markup written as escapes.
QByteArray WordsLiteral(const LiveWords &words)
{
    QByteArray literal = QJsonDocument(QJsonObject{{QStringLiteral("live"), words.sCameraLive},
                                                   {QStringLiteral("gone"), words.sCameraGone},
                                                   {QStringLiteral("uptime"), words.sUptime},
                                                   {QStringLiteral("noAnswer"), words.sNoAnswer}})
                             .toJson(QJsonDocument::Compact);
    literal.replace('<', "\\u003c").replace('>', "\\u003e").replace('&', "\\u0026");
    literal.replace("\xE2\x80\xA8", "\\u2028").replace("\xE2\x80\xA9", "\\u2029");
    return literal;
}

} // namespace

QByteArray LivePage(const LiveWords &words)
{
    QByteArray page(kPage);
    page.replace("WORDS", WordsLiteral(words));
    return page;
}
