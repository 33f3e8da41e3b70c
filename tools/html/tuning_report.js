// The page of `pltfmctl report`: the loader's verdict and the files read, the coverage of the
// configured ports, then per cable type, vendor and lane-speed class one heatmap per tuning
// attribute (front ports down, lanes across) with holes, outliers and repeated ports marked.
(function () {
  'use strict';
  var P = window.pltfm, esc = P.esc, plural = P.plural;
  var CELL_W = 12, CELL_H = 9, LEFT = 22, TOP = 12;
  // Categories in the order a reader expects; others follow alphabetically.
  var ORDER = ['FALSE', 'TRUE', 'LOW', 'MEDIUM', 'HIGH'];

  // One colour scale per attribute name over the whole directory: numbers from their minimum
  // to their maximum (outliers left out, so one wild value does not wash out every other
  // colour; they take the colour of the nearest end), texts as ordered categories.
  function scales(groups) {
    var out = {};
    groups.forEach(function (g) {
      g.attributes.forEach(function (a) {
        var s = out[a.name] || (out[a.name] = { numeric: a.numeric, min: Infinity, max: -Infinity, cats: {} });
        var wild = {};
        a.outliers.forEach(function (o) { wild[o.front_port + '/' + o.lane] = true; });
        s.numeric = s.numeric && a.numeric;
        a.values.forEach(function (row, r) {
          row.forEach(function (v, c) {
            if (typeof v !== 'string') return;
            s.cats[v] = true;
            if (!/^[+-]?\d+$/.test(v) || wild[g.front_ports[r] + '/' + g.lanes[c]]) return;
            s.min = Math.min(s.min, Number(v));
            s.max = Math.max(s.max, Number(v));
          });
        });
      });
    });
    Object.keys(out).forEach(function (name) {
      var s = out[name];
      s.list = Object.keys(s.cats).sort(function (a, b) {
        var ia = ORDER.indexOf(a), ib = ORDER.indexOf(b);
        if (ia >= 0 || ib >= 0) return (ia < 0 ? 99 : ia) - (ib < 0 ? 99 : ib);
        return a < b ? -1 : a > b ? 1 : 0;
      });
      s.position = function (v) {
        if (s.numeric) {
          if (!/^[+-]?\d+$/.test(v)) return null;
          if (!(s.max > s.min)) return 0.5;
          return Math.max(0, Math.min(1, (Number(v) - s.min) / (s.max - s.min)));
        }
        var i = s.list.indexOf(v);
        return s.list.length > 1 ? i / (s.list.length - 1) : 0.5;
      };
    });
    return out;
  }

  function figure(label, value, kind) {
    return '<div class="figure' + (kind ? ' ' + kind : '') + '"><b>' + esc(value) + '</b>' + esc(label) + '</div>';
  }

  function groupName(g) {
    return g.cable_type + ' ' + g.vendor + ' ' + g.speed + ' ' + g.encoding;
  }

  // Base names of files, sorted: the loader reads a directory in the file system's order,
  // which differs from one machine to the next.
  function fileNames(files) {
    return files.map(function (f) { return esc(f.replace(/^.*\//, '')); }).sort().join(', ');
  }

  function header(d) {
    var c = d.counts, s = '<h1>Tuning report: ' + esc(d.directory) + '</h1>';
    s += '<p>' + (d.valid ? '<span class="verdict pass">loads</span> ' : '<span class="verdict fail">does not load</span> ') +
      'the library\'s loader says <b>' + esc(d.status_name) + '</b> (rc=' + d.status + ')' +
      (d.valid ? ', ' + plural(d.files.length, 'tuning file') + ', ' + plural(c.rows, 'row') : '') + '</p>';
    s += '<div class="summary">';
    if (d.valid) {
      s += figure('groups (cable, vendor, class)', c.groups) + figure('heatmap cells', c.cells) +
        figure('holes (front port, lane)', c.holes, c.holes ? 'bad' : 'good') +
        figure('outliers', c.outliers, c.outliers ? 'bad' : 'good') +
        figure('repeated ports', c.duplicates, c.duplicates ? 'bad' : 'good');
      if (d.coverage) s += figure('coverage holes', c.coverage_holes, c.coverage_holes ? 'bad' : 'good');
    }
    s += figure('lint findings', c.findings, c.findings ? 'bad' : 'good') + '</div>';
    s += '<table class="meta">';
    s += '<tr><td>directory</td><td class="mono">' + esc(d.directory) + '</td></tr>';
    s += '<tr><td>files read</td><td class="mono">' + (d.files.length ? fileNames(d.files) : 'none') + '</td></tr>';
    if (d.port_config) s += '<tr><td>port configuration</td><td class="mono">' + esc(d.port_config) + '</td></tr>';
    return s + '</table>';
  }

  // How holes, outliers and repeated ports are found.
  function rules(d) {
    return '<ul class="rules"><li><b>Outliers</b>: a value whose robust z-score exceeds ' + d.outlier_rule.cutoff +
      ': its distance to the median of the same lane over the comparable front ports of the group (the 32 ' +
      'eight-lane cages together; front port 32, the two extra cages, on its own), divided by 1.4826 &times; the ' +
      'median absolute deviation, or by 1.2533 &times; the mean absolute deviation when most values equal the ' +
      'median. 3.5 is the usual cut-off of this test (a normal spread exceeds it about once in 2000 values); ' +
      'lanes with fewer than ' + d.outlier_rule.min_values + ' comparable values are not tested.</li>' +
      '<li><b>Holes</b>: a lane the board has (8 per eight-lane cage, 2 on front port 32) without a row. The rows ' +
      'of a group are, for vendor GENERIC, all 32 eight-lane front ports when the cable type has rows for any of ' +
      'them, and front port 32 when it has rows for it; for other vendors the front ports they name (the switch ' +
      'looks every port up with vendor GENERIC).</li>' +
      '<li><b>Repeated ports</b>: front ports whose lanes carry exactly the same values as another front port\'s ' +
      'in the same group (a copy-paste slip, or meant so).</li></ul>';
  }

  function messages(d) {
    var s = '<h2>The loader\'s messages</h2>';
    if (!d.messages.length) return s + '<p class="muted">none</p>';
    return s + '<pre class="log wrap">' + d.messages.map(function (m) {
      return /fail|invalid|error|cannot|not |missing|mismatch/i.test(m) ? '<span class="err">' + esc(m) + '</span>' : esc(m);
    }).join('\n') + '</pre>';
  }

  function findings(d) {
    if (!d.findings.length) return '';
    var s = '<h2>Lint findings (' + d.findings.length + ')</h2><table class="data"><tr><th>where</th><th>check</th><th>finding</th></tr>';
    d.findings.forEach(function (f) {
      s += '<tr><td class="mono">' + esc(f.file + (f.line ? ':' + f.line : '')) + '</td><td>' + esc(f.check) +
        '</td><td>' + esc(f.message) + '</td></tr>';
    });
    return s + '</table>';
  }

  function coverage(d) {
    var cov = d.coverage;
    if (!cov) return '';
    var types = cov.cable_types, ports = [], byPort = {};
    cov.cells.forEach(function (c) {
      if (!byPort[c.port]) { byPort[c.port] = {}; ports.push(c); }
      byPort[c.port][c.cable_type] = c;
    });
    var W = 19, H = 17, left = 70, top = 62;
    var s = '<h2>Coverage of the configured ports</h2><p>' + plural(cov.ports, 'port') + ' of ' +
      esc(d.port_config) + ' looked up as port pre-initialisation looks them up (vendor GENERIC, the ' +
      'port\'s lane-speed class, front port, lanes and start lane) for ' + esc(types.join(', ')) + ': ' +
      (cov.holes ? '<span class="bad">' + plural(cov.holes, 'hole') + '</span>' : '<span class="good">no hole</span>') + '.</p>';
    s += '<svg class="coverage" width="' + (left + ports.length * W + 10) + '" height="' + (top + types.length * H + 6) + '">';
    ports.forEach(function (p, i) {
      var x = left + i * W + W / 2;
      s += '<text class="lab" transform="translate(' + (x + 3) + ',' + (top - 4) + ') rotate(-60)">' + esc(p.port) + '</text>';
    });
    types.forEach(function (t, j) {
      var y = top + j * H;
      s += '<text x="' + (left - 6) + '" y="' + (y + H - 5) + '" text-anchor="end" style="font-size:11px">' + esc(t) + '</text>';
      ports.forEach(function (p, i) {
        var c = byPort[p.port][t];
        var tip = c.port + ' (front port ' + c.front_port + ', lanes ' + c.start_lane + '-' + (c.start_lane + c.lanes - 1) +
          ', ' + (c.lane_speed ? c.lane_speed + ' ' + c.encoding : 'speed ' + c.speed) + ') with ' + t + ': ' + c.status +
          (c.missing ? ' (' + c.missing + ')' : '');
        s += '<rect class="cov ' + (c.hole ? 'hole' : 'ok') + '" x="' + (left + i * W + 1) + '" y="' + (y + 1) +
          '" width="' + (W - 2) + '" height="' + (H - 2) + '" rx="2" data-tip="' + esc(tip) + '"></rect>';
      });
    });
    s += '</svg>';
    var holes = cov.cells.filter(function (c) { return c.hole; });
    if (holes.length) {
      s += '<table class="data"><tr><th>port</th><th>front port</th><th>lanes</th><th>class</th><th>cable type</th><th>problem</th></tr>';
      holes.forEach(function (c) {
        s += '<tr><td>' + esc(c.port) + '</td><td class="num">' + c.front_port + '</td><td>' + c.start_lane + '-' +
          (c.start_lane + c.lanes - 1) + '</td><td>' + esc(c.lane_speed ? c.lane_speed + ' ' + c.encoding : '-') +
          '</td><td>' + esc(c.cable_type) + '</td><td class="bad">' + esc(c.status + (c.missing ? ': ' + c.missing : '')) + '</td></tr>';
      });
      s += '</table>';
    }
    return s;
  }

  function overview(groups) {
    var s = '<h2>Groups</h2><table class="data"><tr><th>cable type</th><th>vendor</th><th>class</th>' +
      '<th>front ports</th><th>lanes</th><th>attributes</th><th>holes</th><th>outliers</th><th>repeated ports</th><th>files</th></tr>';
    groups.forEach(function (g, gi) {
      var outliers = g.attributes.reduce(function (n, a) { return n + a.outliers.length; }, 0);
      s += '<tr><td><a href="#group-' + gi + '">' + esc(g.cable_type) + '</a></td><td>' + esc(g.vendor) + '</td><td>' +
        esc(g.speed + ' ' + g.encoding) + '</td><td class="num">' + g.front_ports.length + '</td><td class="num">' +
        g.lanes.length + '</td><td class="num">' + g.attributes.length + '</td>' +
        '<td class="num' + (g.holes.length ? ' bad' : '') + '">' + g.holes.length + '</td>' +
        '<td class="num' + (outliers ? ' bad' : '') + '">' + outliers + '</td>' +
        '<td' + (g.duplicates.length ? ' class="bad"' : '') + '>' + (g.duplicates.map(function (set) { return set.join(' = '); }).join('; ') || '0') + '</td>' +
        '<td class="mono">' + fileNames(g.files) + '</td></tr>';
    });
    return s + '</table>';
  }

  // The attribute's colour scale under its heatmap, `width` pixels wide.
  function legend(scale, width) {
    var s;
    if (scale.numeric) {
      var steps = 24, w = (width - LEFT - 2) / steps;
      s = '<svg class="legend-scale" width="' + width + '" height="22">';
      for (var i = 0; i < steps; ++i) {
        s += '<rect x="' + (LEFT + i * w) + '" y="2" width="' + (w + 0.3) + '" height="8" fill="' + P.colour(i / (steps - 1)) + '"></rect>';
      }
      var known = isFinite(scale.min);
      return s + '<text class="lab" x="' + LEFT + '" y="20">' + (known ? esc(scale.min) : '') + '</text>' +
        '<text class="lab" x="' + (width - 2) + '" y="20" text-anchor="end">' + (known ? esc(scale.max) : '') + '</text></svg>';
    }
    var shown = scale.list.slice(0, 6);
    s = '<svg class="legend-scale" width="' + width + '" height="' + (4 + shown.length * 10) + '">';
    shown.forEach(function (v, i) {
      s += '<rect x="' + LEFT + '" y="' + (3 + i * 10) + '" width="8" height="8" fill="' + P.colour(scale.position(v)) + '"></rect>' +
        '<text class="lab" x="' + (LEFT + 11) + '" y="' + (10 + i * 10) + '">' + esc(v) + '</text>';
    });
    return s + '</svg>';
  }

  function heatmap(g, gi, a, ai, scale, dupPorts) {
    var rows = g.front_ports.length, cols = g.lanes.length;
    var out = {};
    a.outliers.forEach(function (o) { out[o.front_port + '/' + o.lane] = true; });
    var s = '<div class="map"><div class="name">' + esc(a.name) + '</div>' +
      '<svg class="heat" data-g="' + gi + '" data-a="' + ai + '" width="' + (LEFT + cols * CELL_W + 2) +
      '" height="' + (TOP + rows * CELL_H + 2) + '">';
    g.lanes.forEach(function (lane, c) {
      s += '<text class="lab" x="' + (LEFT + c * CELL_W + CELL_W / 2) + '" y="' + (TOP - 3) + '" text-anchor="middle">' + esc(lane) + '</text>';
    });
    g.front_ports.forEach(function (port, r) {
      var y = TOP + r * CELL_H;
      s += '<text class="lab' + (dupPorts[port] ? ' dup' : '') + '" x="' + (LEFT - 3) + '" y="' + (y + CELL_H - 1.5) +
        '" text-anchor="end">' + esc(port) + '</text>';
      a.values[r].forEach(function (v, c) {
        if (v === false) return;
        var geometry = ' x="' + (LEFT + c * CELL_W) + '" y="' + y + '" width="' + CELL_W + '" height="' + CELL_H +
          '" data-r="' + r + '" data-c="' + c + '"';
        if (v === null) { s += '<rect class="cell hole"' + geometry + '></rect>'; return; }
        var t = scale.position(v);
        var cls = 'cell' + (out[port + '/' + g.lanes[c]] ? ' outlier' : '') + (t === null ? ' text' : '');
        s += '<rect class="' + cls + '"' + geometry + (t === null ? '' : ' fill="' + P.colour(t) + '"') + '></rect>';
      });
    });
    return s + '</svg>' + legend(scale, LEFT + cols * CELL_W + 2) + '</div>';
  }

  function group(g, gi, allScales) {
    var dupPorts = {};
    g.duplicates.forEach(function (set) { set.forEach(function (p) { dupPorts[p] = true; }); });
    var outliers = g.attributes.reduce(function (n, a) { return n + a.outliers.length; }, 0);
    var s = '<section class="group" id="group-' + gi + '"><h3>' + esc(groupName(g)) +
      '<span class="tag">' + plural(g.front_ports.length, 'front port') + ' &times; ' + plural(g.lanes.length, 'lane') + '</span>' +
      '<span class="tag' + (g.holes.length ? ' bad' : '') + '">' + plural(g.holes.length, 'hole') + '</span>' +
      '<span class="tag' + (outliers ? ' bad' : '') + '">' + plural(outliers, 'outlier') + '</span>' +
      (g.duplicates.length ? '<span class="tag dup">repeated: ' + esc(g.duplicates.map(function (set) {
        return 'front ports ' + set.join(' = ');
      }).join('; ')) + '</span>' : '') +
      '<span class="muted mono" style="font-size:11px">' + esc(g.files.slice().sort().join(', ')) + '</span></h3>';
    if (g.holes.length) {
      s += '<p class="note">No row for ' + esc(holeText(g.holes)) + '.</p>';
    }
    s += '<div class="maps">';
    g.attributes.forEach(function (a, ai) { s += heatmap(g, gi, a, ai, allScales[a.name], dupPorts); });
    return s + '</div></section>';
  }

  // Every flagged value in one table, so none is missed among the heatmaps.
  function outlierTable(d) {
    var rows = [];
    d.groups.forEach(function (g, gi) {
      g.attributes.forEach(function (a) {
        a.outliers.forEach(function (o) {
          var src = g.sources[g.front_ports.indexOf(o.front_port)][g.lanes.indexOf(o.lane)];
          rows.push('<tr><td><a href="#group-' + gi + '">' + esc(groupName(g)) + '</a></td><td class="mono">' + esc(a.name) +
            '</td><td class="num">' + esc(o.front_port) + '</td><td class="num">' + esc(o.lane) + '</td><td class="num bad">' +
            esc(o.value) + '</td><td class="num">' + o.median + '</td><td class="num">' + o.z.toFixed(1) + '</td><td class="mono">' +
            (src ? esc(d.files[src[0]].replace(/^.*\//, '') + ':' + src[1]) : '') + '</td></tr>');
        });
      });
    });
    if (!rows.length) return '';
    return '<h2>Outliers (' + rows.length + ')</h2><table class="data"><tr><th>group</th><th>attribute</th>' +
      '<th>front port</th><th>lane</th><th>value</th><th>lane median</th><th>robust z</th><th>file:line</th></tr>' +
      rows.slice(0, 300).join('') + '</table>' + (rows.length > 300 ? '<p class="muted">and ' + (rows.length - 300) + ' more</p>' : '');
  }

  // "front port 5 lanes 0-7, front port 9 lanes 1, 3-4": runs of consecutive lanes joined.
  function holeText(holes) {
    var byPort = [], lanes = {};
    holes.forEach(function (h) {
      if (!lanes[h.front_port]) { lanes[h.front_port] = []; byPort.push(h.front_port); }
      lanes[h.front_port].push(h.lane);
    });
    return byPort.map(function (p) {
      var l = lanes[p], runs = [], start = 0;
      for (var i = 1; i <= l.length; ++i) {
        if (i < l.length && Number(l[i]) === Number(l[i - 1]) + 1) continue;
        runs.push(i - 1 > start ? l[start] + '-' + l[i - 1] : l[start]);
        start = i;
      }
      return 'front port ' + p + (l.length === 1 ? ' lane ' : ' lanes ') + runs.join(', ');
    }).join(', ');
  }

  function cellTip(data, el) {
    if (!el.getAttribute || !el.hasAttribute('data-r')) return null;
    var svg = el.parentNode, g = data.groups[Number(svg.getAttribute('data-g'))];
    var a = g.attributes[Number(svg.getAttribute('data-a'))];
    var r = Number(el.getAttribute('data-r')), c = Number(el.getAttribute('data-c'));
    var port = g.front_ports[r], lane = g.lanes[c], v = a.values[r][c];
    var where = groupName(g) + ', front port ' + port + ', lane ' + lane;
    var src = g.sources[r][c];
    if (v === null) {
      return a.name + ': hole\n' + where + '\n' + (src ? 'the row at ' + data.files[src[0]] + ':' + src[1] +
        ' has no ' + a.name : 'no row for this lane');
    }
    var text = a.name + ' = ' + v + '\n' + where;
    if (src) text += '\n' + data.files[src[0]] + ':' + src[1];
    a.outliers.forEach(function (o) {
      if (o.front_port === port && o.lane === lane) {
        text += '\noutlier: lane median ' + o.median + ', robust z ' + o.z.toFixed(1) + ' (cut-off ' + data.outlier_rule.cutoff + ')';
      }
    });
    g.duplicates.forEach(function (set) {
      if (set.indexOf(port) >= 0) text += '\nrepeated: front ports ' + set.join(' = ') + ' have the same values';
    });
    return text;
  }

  P.render(function (d) {
    var s = '<svg width="0" height="0" style="position:absolute"><defs><pattern id="hole-hatch" width="4" height="4" ' +
      'patternUnits="userSpaceOnUse" patternTransform="rotate(45)"><rect width="4" height="4" fill="#fff"></rect>' +
      '<line x1="0" y1="0" x2="0" y2="4" stroke="#c62828" stroke-width="2"></line></pattern></defs></svg>';
    s += header(d);
    if (!d.valid) {
      s += '<p class="note">The directory does not load: the switch would start without tuning (a rescan ' +
        'would keep the tuning in use). The loader stops at the first broken rule; its messages name the file and line.</p>';
      return s + messages(d) + findings(d);
    }
    s += coverage(d) + findings(d);
    if (!d.groups.length) return s + '<p class="note">The directory has no data rows.</p>';
    s += overview(d.groups) + outlierTable(d);
    s += '<h2>Heatmaps</h2>' + rules(d) + '<p>One colour scale per attribute (dark: lowest value, yellow: highest; texts in ' +
      'their order). <span class="legend" style="display:inline-flex"><span><span class="sw" style="background:repeating-linear-gradient(45deg,#fff 0 2px,#c62828 2px 4px)"></span>hole</span>' +
      '<span><span class="sw" style="border:2px solid #e0115f"></span>outlier</span>' +
      '<span><b style="color:#d97706">5</b> front port that repeats another</span>' +
      '<span><span class="sw" style="background:#b8bec6"></span>not a number</span></span> Hover a cell for its value, file and line.</p>';
    var allScales = scales(d.groups);
    d.groups.forEach(function (g, gi) { s += group(g, gi, allScales); });
    P.addTip(function (el) { return cellTip(d, el); });
    return s;
  });
})();
