// The page of `pltfm-sim --html`: the faceplate of the 34 cages coloured by module kind, the
// timeline of the scenario with the library's log lines of each step, what `pltfmctl status`
// said after the steps (the stale ports after the rescan), and the ports' tuning with each
// port's published state.
(function () {
  'use strict';
  var P = window.pltfm, esc = P.esc, plural = P.plural;
  // Fill and text colour per module kind: optics in blues, copper in oranges and pinks.
  var KINDS = {
    'qsfp-dd-optic': ['#1d4ed8', '#fff'], 'qsfp-dd-optic-4x': ['#3b82f6', '#fff'],
    'qsfp-dd-optic-2x': ['#93c5fd', '#1f2933'], 'qsfp-dd-dac-1m': ['#ea580c', '#fff'],
    'qsfp-dd-dac-3m': ['#fbbf24', '#1f2933'], 'qsfp28-optic': ['#7c3aed', '#fff'],
    'qsfp28-dac-1m': ['#db2777', '#fff'], 'qsfp28-dac-3m': ['#f9a8d4', '#1f2933'],
    'sfp-optic': ['#0f766e', '#fff'], 'sfp-rj45': ['#65a30d', '#fff'],
    'unknown': ['#9aa5b1', '#1f2933'], 'empty': ['#f1f3f5', '#9aa5b1']
  };
  var STATE = { 'link up': '#16a34a', 'no module': '#9aa5b1' };
  var TABLE = ['TX_EQ_PRE1', 'TX_EQ_POST', 'TX_EQ_ATTN', 'RX_CTLE_LF', 'RX_CTLE_HF'];

  function kind(k) { return KINDS[k] || KINDS.unknown; }
  function stateColour(s) { return STATE[s] || '#c62828'; }

  function laneValues(values) {
    if (!values || !values.length) return '-';
    var same = values.every(function (v) { return v === values[0]; });
    return same ? String(values[0]) : values.join('/');
  }

  function portLine(p) {
    return p.interface + ' (lanes ' + p.start_lane + '-' + (p.start_lane + p.lanes - 1) + ', ' + p.speed / 1000 + 'G): ' +
      (p.cable_type ? p.cable_type + ' ' + p.lane_class + ' ' + p.encoding : 'not identified') + ', ' + p.state;
  }

  // The published fields a port's tooltip shows, in this order.
  var PUBLISHED = ['cable_type', 'vendor', 'identified_by', 'module', 'speed', 'speed_from', 'lane_speed', 'encoding',
    'front_port', 'lanes', 'start_lane', 'state', 'lasers', 'exchange', 'exchange_since', 'pre_init', 'records',
    'digest', 'tuning_rows', 'stale', 'updated', 'version'];

  // The last pltfmctl status document of the run, by interface; empty without one.
  function lastStatus(d) {
    var byIntf = {}, snaps = d.port_state || [];
    for (var i = snaps.length - 1; i >= 0; --i) {
      if (!snaps[i].doc || !snaps[i].doc.ports) continue;
      snaps[i].doc.ports.forEach(function (p) { byIntf[p.interface] = { port: p, after: snaps[i].after }; });
      break;
    }
    return byIntf;
  }

  function publishedTip(s) {
    if (!s) return '\nno port state published';
    var p = s.port, h = p.published;
    var t = '\npublished state (PORT_SERDES_STATE|' + p.interface + ', after ' + s.after + '):';
    if (!h) t += '\n  none';
    else PUBLISHED.forEach(function (f) { if (h[f] !== undefined && h[f] !== '') t += '\n  ' + f + ': ' + h[f]; });
    if (p.flags && p.flags.length) t += '\nflagged: ' + p.flags.map(function (f) { return f.code + ': ' + f.text; }).join('\n  ');
    return t;
  }

  function isStale(p) { return !!(p.running && p.published && p.published.stale === 'yes'); }

  function portNames(ports, keep) {
    var names = ports.filter(keep).map(function (p) { return p.interface; });
    return names.length ? names.join(', ') : 'none';
  }

  // What pltfmctl status said after each step, the stale ports of the rescan in particular.
  function portState(d) {
    var snaps = d.port_state || [];
    if (!snaps.length) return '';
    var s = '<h2>Port state (pltfmctl status)</h2><p>The library ran with PLTFM_PORT_STATE=1 and published what each port ' +
      'got in database 6 (PORT_SERDES_STATE|&lt;interface&gt;); after the steps below the simulation ran ' +
      '<code>pltfmctl status</code> beside the OS\'s view. A stale port runs on tuning a rescan replaced, until it is ' +
      'created again. Hover a port row below for its published state.</p>';
    s += '<table class="data"><tr><th>after</th><th>view</th><th>exit</th><th>ports</th><th>flagged</th><th>stale</th></tr>';
    snaps.forEach(function (sn) {
      var ports = sn.doc && sn.doc.ports ? sn.doc.ports : [];
      if (sn.view && sn.view.intf) ports = ports.filter(function (p) { return p.interface === sn.view.intf; });
      if (sn.view && sn.view.stale_only) ports = ports.filter(isStale);
      var flagged = ports.filter(function (p) { return p.flags && p.flags.length; });
      s += '<tr class="state-row"><td>' + esc(sn.after) + '</td><td class="mono">' + esc(sn.view ? sn.view.command : '') +
        '</td><td class="num">' + sn.exit + '</td><td class="num">' + (sn.error ? esc(sn.error) : ports.length) + '</td><td>' +
        (flagged.length ? flagged.map(function (p) {
          return esc(p.interface) + ' (' + esc(p.flags.map(function (f) { return f.code; }).join(', ')) + ')';
        }).join(', ') : 'nothing') + '</td><td class="stale-ports' + (ports.some(isStale) ? ' bad' : '') + '">' +
        esc(portNames(ports, isStale)) + '</td></tr>';
    });
    return s + '</table>';
  }

  function header(d) {
    var ports = [], tuned = 0, up = 0;
    d.cages.forEach(function (c) { ports = ports.concat(c.ports); });
    ports.forEach(function (p) { tuned += p.tuned ? 1 : 0; up += p.state === 'link up' ? 1 : 0; });
    var s = '<h1>Simulated switch run</h1><p>' + (d.ok ? '<span class="verdict pass">every step completed</span>' :
      '<span class="verdict fail">a step did not complete</span>') + ' scenario <b>' + esc(d.scenario) + '</b>, ' +
      d.seconds.toFixed(1) + ' s, the library loaded with dlopen as the chip SDK does.</p>';
    s += '<div class="summary"><div class="figure"><b>' + d.cages.filter(function (c) { return c.kind !== 'empty'; }).length +
      '</b>cages with a module</div><div class="figure"><b>' + ports.length + '</b>ports</div>' +
      '<div class="figure good"><b>' + tuned + '</b>tuned by the library</div><div class="figure good"><b>' + up +
      '</b>link up</div><div class="figure"><b>' + d.timeline.length + '</b>steps</div></div>';
    s += '<table class="meta"><tr><td>library</td><td class="mono">' + esc(d.library) + '</td></tr>' +
      '<tr><td>platform root</td><td class="mono">' + esc(d.platform_root) + '</td></tr>' +
      '<tr><td>library log</td><td class="mono">' + esc(d.log) + '</td></tr></table>';
    return s;
  }

  function faceplate(d) {
    var W = 58, H = 40, GAP = 6, LEFT = 14, TOP = 24, SFP_W = 44, SFP_H = 26;
    var width = LEFT + 16 * (W + GAP) + 36 + SFP_W + 20, height = TOP + 2 * H + 50;
    var s = '<h2>Faceplate</h2><p>Front view at the end of the run: odd cages on top, even below, the two extra ' +
      'SFP+ cages (front port 32) at the right. Hover a cage for its module and ports; the dots are the ports ' +
      '(green: link up, grey: no module, red: no tuning).</p>';
    s += '<svg class="faceplate" width="' + width + '" height="' + height + '">';
    s += '<rect x="2" y="2" width="' + (width - 4) + '" height="' + (height - 4) + '" rx="6" fill="#2d3748"></rect>';
    d.cages.forEach(function (c) {
      var x, y, w = W, h = H, top;
      if (c.cage <= 32) {
        top = c.cage % 2 === 1;
        x = LEFT + Math.floor((c.cage - 1) / 2) * (W + GAP);
        y = top ? TOP : TOP + H + 22;
      } else {
        top = c.cage === 33;
        w = SFP_W; h = SFP_H;
        x = LEFT + 16 * (W + GAP) + 30;
        y = top ? TOP + (H - SFP_H) : TOP + H + 22;
      }
      var colours = kind(c.kind);
      var tip = 'Cage ' + c.cage + ' (front port ' + c.front_port + '): ' + c.module +
        (c.ports.length ? '\n' + c.ports.map(portLine).join('\n') : '\nno port configured or brought up');
      if (d.swap && d.swap.cage === c.cage) tip += '\nswapped during the run: ' + d.swap.from + ' -> ' + d.swap.to;
      s += '<g data-tip="' + esc(tip) + '">';
      s += '<rect class="cage" data-cage="' + c.cage + '" x="' + x + '" y="' + y + '" width="' + w + '" height="' + h +
        '" fill="' + colours[0] + '"' + (c.kind === 'empty' ? ' stroke-dasharray="3 2"' : '') + '></rect>';
      s += '<text x="' + (x + w / 2) + '" y="' + (y + (c.cage <= 32 ? 17 : 11)) + '" text-anchor="middle" style="font-size:' +
        (c.cage <= 32 ? 11 : 8) + 'px;font-weight:bold;fill:' + colours[1] + '">' + esc(c.glyph.trim()) + '</text>';
      c.ports.forEach(function (p, i) {
        var n = c.ports.length, dx = w / (n + 1);
        s += '<circle cx="' + (x + dx * (i + 1)) + '" cy="' + (y + h - (c.cage <= 32 ? 8 : 6)) + '" r="3.6" fill="' +
          stateColour(p.state) + '" stroke="#1f2933" stroke-width="1"></circle>';
      });
      if (d.swap && d.swap.cage === c.cage) {
        s += '<circle cx="' + (x + w - 5) + '" cy="' + (y + 5) + '" r="4" fill="#facc15" stroke="#1f2933"></circle>';
      }
      s += '<text x="' + (x + w / 2) + '" y="' + (top ? y - 5 : y + h + 13) + '" text-anchor="middle" ' +
        'style="font-size:10px;fill:#e4e7ec">' + c.cage + '</text></g>';
    });
    s += '</svg>';
    var present = {};
    d.cages.forEach(function (c) { present[c.kind] = c.module; });
    s += '<div class="legend">';
    Object.keys(KINDS).forEach(function (k) {
      if (present[k] === undefined) return;
      s += '<span><span class="sw" style="background:' + KINDS[k][0] + '"></span>' + esc(present[k]) + '</span>';
    });
    if (d.swap && d.swap.cage) {
      s += '<span><span class="sw" style="background:#facc15;border-radius:7px"></span>module swapped during the run (cage ' +
        d.swap.cage + ')</span>';
    }
    return s + '</div>';
  }

  function timeline(d) {
    var steps = d.timeline, end = Math.max(d.seconds, 1), W = 1100, L = 20;
    var s = '<h2>Timeline</h2><p>The steps of the scenario with what the simulation saw and the library\'s log ' +
      'lines written during each (its standard error, ' + esc(d.log) + ').</p>';
    s += '<svg class="axis" width="' + (W + 2 * L) + '" height="80"><line x1="' + L + '" y1="56" x2="' + (W + L) +
      '" y2="56" stroke="#9aa5b1" stroke-width="2"></line>';
    for (var t = 0; t <= end; t += end > 60 ? 10 : 5) {
      var x = L + W * t / end;
      s += '<line x1="' + x + '" y1="52" x2="' + x + '" y2="60" stroke="#9aa5b1"></line><text class="lab" x="' + x +
        '" y="74" text-anchor="middle" style="font-size:10px">' + t + ' s</text>';
    }
    // Steps close in time go to the next of three rows above the axis, so none hides another.
    var last = [-1e9, -1e9, -1e9];
    steps.forEach(function (st, i) {
      var x = L + W * st.t / end, row = 0;
      while (row < 2 && x - last[row] < 20) ++row;
      last[row] = x;
      var y = 46 - row * 19;
      s += '<g data-tip="' + esc('#' + (i + 1) + ' at ' + st.t.toFixed(1) + ' s: ' + st.title) + '">' +
        (row ? '<line x1="' + x + '" y1="' + y + '" x2="' + x + '" y2="54" stroke="#1d4ed8"></line>' : '') +
        '<circle cx="' + x + '" cy="' + y + '" r="8" fill="#1d4ed8" stroke="#fff" stroke-width="1.5"></circle><text x="' + x +
        '" y="' + (y + 3.5) + '" text-anchor="middle" style="font-size:9px;fill:#fff;font-weight:bold">' + (i + 1) + '</text></g>';
    });
    s += '</svg>';
    steps.forEach(function (st, i) {
      var failed = /^Stopped|did not|failed|skipped/.test(st.title);
      s += '<div class="step' + (failed ? ' failed' : '') + '" data-step="' + (i + 1) + '"><span class="when">' +
        st.t.toFixed(1) + ' s</span><span class="title">' + (i + 1) + '. ' + esc(st.title) + '</span>';
      if (st.notes.length) s += '<pre class="notes" style="margin:2px 0 2px 62px">' + st.notes.map(esc).join('\n') + '</pre>';
      if (st.log.length) {
        s += '<details><summary>library log: ' + plural(st.log.length, 'line') + '</summary><pre class="log">' +
          st.log.map(esc).join('\n') + '</pre></details>';
      }
      s += '</div>';
    });
    return s;
  }

  function ports(d) {
    var s = '<h2>Ports and their tuning</h2><p>What the library decided for each port and the main SerDes values it ' +
      'handed to the SDK, per lane (a/b/... lane by lane, one value when every lane agrees); the last column is the ' +
      'published state as pltfmctl status saw it last (its flags, else the records count and digest). Hover a row for ' +
      'every record and the port\'s published state.</p>';
    var status = lastStatus(d);
    s += '<table class="data"><tr><th>interface</th><th>cage</th><th>module</th><th>cable type</th><th>class</th>' +
      '<th>lanes</th>' + TABLE.map(function (n) { return '<th>' + n + '</th>'; }).join('') + '<th>state</th>' +
      '<th>published</th></tr>';
    d.cages.forEach(function (c) {
      c.ports.forEach(function (p) {
        var names = Object.keys(p.sdk_records), st = status[p.interface];
        var tip = portLine(p) + (names.length ? '\n' + names.map(function (n) {
          return n + ': ' + laneValues(p.sdk_records[n]);
        }).join('\n') : '\nno SDK records') + publishedTip(st);
        var h = st && st.port.published, flags = st && st.port.flags ? st.port.flags : [];
        var mark = !st ? '-' : flags.length ? flags.map(function (f) { return f.code; }).join(', ') :
          !h ? 'none' : h.records ? h.records + ' records ' + String(h.digest).slice(0, 8) : 'pre_init ' + h.pre_init;
        s += '<tr class="port-row" data-stale="' + (st && isStale(st.port) ? 'yes' : 'no') + '" data-tip="' + esc(tip) +
          '"><td>' + esc(p.interface) + '</td><td class="num">' + p.cage +
          '</td><td><span class="sw" style="display:inline-block;width:10px;height:10px;margin-right:5px;background:' +
          kind(c.kind)[0] + '"></span>' + esc(p.module) + '</td><td>' + esc(p.cable_type || '-') + '</td><td>' +
          esc(p.lane_class ? p.lane_class + ' ' + p.encoding : '-') + '</td><td>' + p.lanes + '@' + p.start_lane + '</td>' +
          TABLE.map(function (n) { return '<td class="mono">' + esc(laneValues(p.sdk_records[n])) + '</td>'; }).join('') +
          '<td style="color:' + stateColour(p.state) + '">' + esc(p.state) + '</td><td class="mono' +
          (flags.length ? ' bad' : '') + '">' + esc(mark) + '</td></tr>';
      });
    });
    return s + '</table>';
  }

  P.render(function (d) {
    return header(d) + faceplate(d) + timeline(d) + portState(d) + ports(d);
  });
})();
