// Shared part of the tools' pages: records every script error on the root element (so a dumped
// DOM shows it), renders the page from the JSON in #page-data, shows tooltips and maps values to
// colours. No network: everything the page needs is in the file.
(function () {
  'use strict';
  var root = document.documentElement;

  function record(text) {
    var count = Number(root.getAttribute('data-script-errors') || '0') + 1;
    root.setAttribute('data-script-errors', String(count));
    root.setAttribute('data-script-error', String(text));
  }
  window.addEventListener('error', function (e) {
    record((e.message || 'error') + ' (line ' + (e.lineno || '?') + ')');
  });
  window.addEventListener('unhandledrejection', function (e) {
    record('unhandled rejection: ' + e.reason);
  });

  function esc(value) {
    return String(value).replace(/[&<>"']/g, function (c) {
      return { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c];
    });
  }

  function plural(n, word, words) {
    return n + ' ' + (n === 1 ? word : (words || word + 's'));
  }

  // Perceptually even colour scale (dark blue through green to yellow), t in [0, 1].
  var STOPS = [[68, 1, 84], [65, 68, 135], [42, 120, 142], [34, 168, 132], [122, 209, 81], [253, 231, 37]];
  function colour(t) {
    t = Math.max(0, Math.min(1, isFinite(t) ? t : 0.5));
    var at = t * (STOPS.length - 1), i = Math.min(Math.floor(at), STOPS.length - 2), f = at - i;
    var c = STOPS[i].map(function (v, k) { return Math.round(v + (STOPS[i + 1][k] - v) * f); });
    return 'rgb(' + c.join(',') + ')';
  }
  // Text colour readable on colour(t).
  function ink(t) { return t > 0.55 ? '#1f2933' : '#ffffff'; }

  // Tooltips: an element's data-tip text, or what a page's resolver says for it.
  var resolvers = [];
  function tipText(target) {
    for (var el = target; el && el !== document; el = el.parentNode) {
      if (el.getAttribute && el.getAttribute('data-tip')) return el.getAttribute('data-tip');
      for (var i = 0; i < resolvers.length; ++i) {
        var text = resolvers[i](el);
        if (text) return text;
      }
    }
    return null;
  }
  function moveTip(e) {
    var tip = document.getElementById('tip');
    if (!tip) return;
    var text = tipText(e.target);
    if (!text) { tip.hidden = true; return; }
    tip.textContent = text;
    tip.hidden = false;
    var x = e.clientX + 14, y = e.clientY + 14;
    if (x + tip.offsetWidth > window.innerWidth - 4) x = e.clientX - tip.offsetWidth - 10;
    if (y + tip.offsetHeight > window.innerHeight - 4) y = e.clientY - tip.offsetHeight - 10;
    tip.style.left = x + 'px';
    tip.style.top = y + 'px';
  }
  document.addEventListener('mousemove', moveTip);
  document.addEventListener('mouseleave', function () {
    var tip = document.getElementById('tip');
    if (tip) tip.hidden = true;
  });

  // Draws the page: draw(data, main) returns the page's HTML. The body gets data-rendered="yes"
  // once it is drawn; a failure is recorded and shown on the page.
  function render(draw) {
    var main = document.getElementById('page');
    try {
      var data = JSON.parse(document.getElementById('page-data').textContent);
      main.innerHTML = draw(data);
      document.body.setAttribute('data-rendered', 'yes');
      // The page is drawn after loading: a #fragment of the address is found only now.
      var target = location.hash && document.getElementById(decodeURIComponent(location.hash.slice(1)));
      if (target) target.scrollIntoView();
    } catch (e) {
      record('render: ' + (e && e.message ? e.message : e));
      main.insertAdjacentHTML('afterbegin', '<p class="note">The page could not be drawn: ' + esc(e) + '</p>');
    }
  }

  window.pltfm = {
    esc: esc, plural: plural, colour: colour, ink: ink, render: render,
    addTip: function (resolver) { resolvers.push(resolver); }
  };
})();
