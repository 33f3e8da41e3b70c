// The style sheet and scripts of the tools' HTML pages, compiled in from tools/html/*.css and
// *.js (see embed_assets.cmake).
#pragma once

namespace pltfm::tools::html_assets {

extern const char page_css[];          // page.css: layout, tables, heatmaps, faceplate
extern const char page_js[];           // page.js: error recorder, tooltip, colour scales
extern const char tuning_report_js[];  // tuning_report.js: pltfmctl report
extern const char switch_run_js[];     // switch_run.js: pltfm-sim --html

}  // namespace pltfm::tools::html_assets
