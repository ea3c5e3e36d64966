#include "page_style.h"

namespace {

// Two filled pieces; the notch of the right one points at (146, 128). Sized by the `mark` rule so the
// same markup also fits larger places later.
constexpr std::string_view markSVG =
    R"(<svg class="mark" viewBox="0 0 256 256" width="22" height="22" aria-hidden="true" focusable="false">)"
    R"(<path d="M104,25.49 A108,108 0 0,0 104,230.51 Z"/>)"
    R"(<path d="M134,20.07 A108,108 0 0,1 218.26,55.74 L146,128 L218.26,200.26 A108,108 0 0,1 134,235.93 Z"/>)"
    R"(</svg>)";

// One rule per line: small enough to send with every page, still readable in a browser's inspector.
// Pages draw their content in script, so this sheet covers every page's classes at once.
constexpr std::string_view css = R"css(
:root{color-scheme:light dark;--bg:#FFFFFF;--bar:rgba(246,246,248,.82);--text:#1D1D1F;--dim:rgba(60,60,67,.62);--sep:rgba(60,60,67,.14);--fill:rgba(118,118,128,.12);--hover:rgba(0,0,0,.04);--accent:#007AFF;--accentSoft:rgba(0,122,255,.12);--green:#34C759;--greenText:#1E7B34;--red:#D70015;--purple:#AF52DE;--orange:#C77700;--float:rgba(255,255,255,.92)}
@media (prefers-color-scheme: dark){:root{--bg:#1E1E1E;--bar:rgba(44,44,46,.82);--text:#F5F5F7;--dim:rgba(235,235,245,.6);--sep:rgba(255,255,255,.10);--fill:rgba(118,118,128,.24);--hover:rgba(255,255,255,.05);--accent:#0A84FF;--accentSoft:rgba(10,132,255,.22);--green:#30D158;--greenText:#30D158;--red:#FF453A;--purple:#BF5AF2;--orange:#FF9F0A;--float:rgba(58,58,60,.92)}}
*{box-sizing:border-box}
html{-webkit-text-size-adjust:100%;text-size-adjust:100%}
body{margin:0;padding:0 0 120px;background:var(--bg);color:var(--text);font:16px/1.4 -apple-system,BlinkMacSystemFont,system-ui,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;-webkit-font-smoothing:antialiased;-webkit-tap-highlight-color:transparent}
a{color:var(--accent);text-decoration:none}
input,textarea,button{font:inherit;color:var(--text)}
input,textarea{background:var(--bg)}
main{display:block;max-width:640px;margin:0 auto;padding:14px 16px 0}
h1{font-size:26px;line-height:1.15;font-weight:700;letter-spacing:-.01em;margin:6px 0 4px}
.bar{position:sticky;top:0;z-index:5;display:flex;align-items:center;gap:10px;padding:max(10px,env(safe-area-inset-top)) max(16px,env(safe-area-inset-right)) 10px max(16px,env(safe-area-inset-left));background:var(--bar);-webkit-backdrop-filter:saturate(180%) blur(24px);backdrop-filter:saturate(180%) blur(24px);border-bottom:.5px solid var(--sep)}
.brand{display:flex;align-items:center;gap:8px;flex:none;font:700 17px/1.2 ui-rounded,"SF Pro Rounded",-apple-system,BlinkMacSystemFont,system-ui,sans-serif}
.mark{width:22px;height:22px;flex:none;fill:var(--accent)}
.status{margin-left:auto;min-width:0;display:flex;align-items:center;justify-content:flex-end;gap:6px;font-size:13px;color:var(--dim)}
.status>span:last-child{overflow:hidden;text-overflow:ellipsis;white-space:nowrap}
.dot{width:7px;height:7px;flex:none;border-radius:50%;background:var(--green)}
.dot.off{background:var(--orange)}
.crumbs{display:flex;flex-wrap:wrap;align-items:center;gap:2px 4px;margin-bottom:6px;font-size:14px;color:var(--dim)}
.crumbs:empty{display:none}
.crumbs a{color:var(--accent)}
.crumbs svg{opacity:.6}
.sub{margin:0 0 8px;font-size:14px;color:var(--dim)}
.label{margin:20px 0 4px;font-size:12px;font-weight:600;color:var(--dim)}
.list{display:flex;flex-direction:column}
.row{display:flex;align-items:center;gap:12px;min-height:56px;padding:8px 0;border-bottom:.5px solid var(--sep);color:inherit}
.row:last-child{border-bottom:0}
.row:active{background:var(--hover)}
.tile{width:40px;height:40px;flex:none;display:flex;align-items:center;justify-content:center;overflow:hidden;border-radius:9px;background:var(--fill)}
.tile.folder{background:var(--accentSoft)}
.tile img{width:100%;height:100%;object-fit:cover;display:block}
.main{flex:1;min-width:0}
.name{font-weight:500;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.meta{font-size:13px;color:var(--dim);white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.note{margin:8px 0 4px;padding:10px 12px;border-radius:10px;background:var(--fill);font-size:15px;white-space:pre-wrap;overflow-wrap:anywhere}
.chev{flex:none;display:flex;color:var(--dim)}
.icon-btn{width:36px;height:36px;flex:none;display:inline-flex;align-items:center;justify-content:center;padding:0;border:0;border-radius:50%;background:var(--accentSoft);color:var(--accent);cursor:pointer}
.icon-btn:active{filter:brightness(.9)}
.btn{display:flex;align-items:center;justify-content:center;gap:6px;width:100%;padding:13px;border:0;border-radius:12px;background:var(--accent);color:#fff;font-size:16px;font-weight:600;line-height:1.2;text-align:center;cursor:pointer}
.btn.soft{background:var(--accentSoft);color:var(--accent)}
.btn.small{display:inline-flex;width:auto;padding:8px 12px;font-size:14px;border-radius:9px}
.btn:disabled{opacity:.55;cursor:default}
.btn:active:not(:disabled){filter:brightness(.9)}
.card{display:flex;align-items:center;gap:12px;margin-top:16px;padding:14px;border-radius:12px;background:var(--fill);color:inherit}
.drop{margin-top:16px;padding:28px 18px;border:1.5px dashed var(--dim);border-radius:14px;text-align:center}
.drop>svg,.drop>span>svg{display:block;margin:0 auto 8px;color:var(--accent)}
.drop .btn{margin-top:16px}
.steps{margin:12px 0;padding-left:22px;font-size:14px;color:var(--dim)}
.steps li{margin:6px 0}
.steps b,.steps strong{color:var(--text);font-weight:600}
.float{position:fixed;z-index:6;left:max(12px,env(safe-area-inset-left));right:max(12px,env(safe-area-inset-right));bottom:max(12px,env(safe-area-inset-bottom));max-width:616px;margin:0 auto;display:flex;align-items:center;gap:12px;padding:12px 12px 12px 16px;border-radius:16px;background:var(--float);-webkit-backdrop-filter:saturate(180%) blur(24px);backdrop-filter:saturate(180%) blur(24px);box-shadow:0 10px 30px rgba(0,0,0,.18)}
.what{flex:1;min-width:0;font-size:14px;line-height:1.3}
.what>*{white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.what>:last-child{font-size:13px;color:var(--dim)}
.up{padding:10px 0;border-bottom:.5px solid var(--sep)}
.up:last-child{border-bottom:0}
.bar-track{height:5px;margin:8px 0 6px;border-radius:3px;background:var(--fill);overflow:hidden}
.bar-track>*{display:block;width:0;height:100%;background:var(--accent);transition:width .15s}
.status-line{font-size:13px;color:var(--dim)}
.status-line.ok{color:var(--greenText)}
.status-line.err{color:var(--red)}
.empty{padding:40px 16px;text-align:center;color:var(--dim)}
.notice{max-width:480px;margin:40px auto 0;padding:0 20px;text-align:center}
.notice h1{font-size:22px;margin:0 0 8px}
.notice p{margin:0;color:var(--dim)}
.drop h2{margin:0 0 6px;font-size:19px;line-height:1.25}
.drop p{margin:0;font-size:15px;color:var(--dim)}
form.card,section.card{display:block}
.card h2{margin:0 0 4px;font-size:17px;line-height:1.3}
.card p{margin:0;font-size:14px;color:var(--dim)}
.card b{color:var(--text);font-weight:600}
.card .btn{margin-top:12px}
.card>:last-child{margin-bottom:0}
input[type=text],textarea{display:block;width:100%;margin:12px 0 0;padding:11px 12px;border:1px solid var(--sep);border-radius:10px;font-size:16px;outline-color:var(--accent)}
textarea{min-height:96px;margin:0;resize:vertical}
textarea+.btn{margin-top:10px}
p.status-line{margin:8px 0 0}
p.status-line:empty{display:none}
.hidden{display:none!important}
)css";

} // namespace

namespace PageStyle {

std::string head(std::string_view title, std::string_view extra, std::string_view htmlAttributes) {
    std::string out;
    out.reserve(css.size() + title.size() + extra.size() + htmlAttributes.size() + 512);
    out += R"(<!doctype html><html lang="en")";
    out += htmlAttributes;
    out += R"(><head><meta charset="utf-8">)"
           "\n"
           R"(<meta name="viewport" content="width=device-width, initial-scale=1, viewport-fit=cover">)"
           "\n"
           R"html(<meta name="theme-color" content="#F6F6F8" media="(prefers-color-scheme: light)">)html"
           "\n"
           R"html(<meta name="theme-color" content="#2C2C2E" media="(prefers-color-scheme: dark)">)html"
           "\n"
           "<title>";
    out += title;
    out += "</title>\n";
    out += extra;
    out += "<style>";
    out += css;
    out += "</style>\n</head>";
    return out;
}

std::string_view topBar() {
    // Built once; function-local statics are initialised thread-safely.
    static const std::string bar = std::string(R"(<header class="bar"><div class="brand">)") +
                                   std::string(markSVG) +
                                   R"(Tesk</div><div class="status"><span class="dot" id="dot"></span>)"
                                   R"(<span id="mac">On this Wi-Fi</span></div></header>)";
    return bar;
}

std::string_view brandMark() {
    return markSVG;
}

std::string_view styleSheet() {
    return css;
}

std::string notice(std::string_view title, std::string_view text) {
    std::string out = head("Tesk");
    out += "<body>";
    out += topBar();
    out += R"(<div class="notice"><h1>)";
    out += title;
    out += "</h1><p>";
    out += text;
    out += "</p></div></body></html>";
    return out;
}

// "&" goes first so the references written for the other characters are not escaped again.
std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace PageStyle
