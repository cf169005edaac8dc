#include "serve/server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "colour_options.h"
#include "controls_model.h"
#include "frame_list.h"
#include "image_io.h"
#include "plugin_paths.h"
#include "serve/api.h"
#include "serve/http_server.h"
#include "serve/token.h"
#include "signals.h"
#include "value_parse.h"

namespace vorn {

namespace {

constexpr size_t kMaxBodyBytes = 1u << 20;

serve::HttpRequest FromHttplib(const httplib::Request& req) {
  serve::HttpRequest r;
  r.method = req.method;
  r.path = req.path;
  for (const auto& [k, v] : req.params) r.query.emplace(k, v);
  r.body = req.body;
  r.cookie = req.get_header_value("Cookie");
  r.tokenHeader = req.get_header_value(serve::kTokenHeader);
  return r;
}

void ToHttplib(const serve::HttpResponse& from, httplib::Response& to) {
  to.status = from.status;
  for (const auto& [k, v] : from.headers) to.set_header(k, v);
  to.set_header("X-Content-Type-Options", "nosniff");
  to.set_header("Referrer-Policy", "no-referrer");
  to.set_content(from.body, from.contentType);
}

// VORN_WEB_DIR, else the installed page beside the binary
// (../share/vorn/web), else the source tree's (a build tree's vorn).
std::string DefaultWebDir() {
  if (const char* env = std::getenv("VORN_WEB_DIR"); env && *env) return env;
  if (const std::string exe = ExecutableDir(); !exe.empty()) {
    const auto installed = (std::filesystem::path(exe) / VORN_WEB_RELDIR).lexically_normal();
    std::error_code ec;
    if (std::filesystem::exists(installed / "index.html", ec)) return installed.string();
  }
  return VORN_WEB_SOURCE_DIR;
}

// Each caption of --input, --input-colorspace and --input-layer names an
// image input of some tool, and the colour spaces are known; else false with
// the reason.
bool InputsExist(Host& host, const ServeOptions& options, std::string* error) {
  std::vector<df::OperatorPtr> ops;
  for (df::Registry* r : host.Tools()) {
    std::string ignored;
    if (df::OperatorPtr op = host.Doc().CreateOperator(r, &ignored)) ops.push_back(std::move(op));
  }
  for (const df::OperatorPtr& op : ops) {
    InputReadChoices reading;
    if (!reading.Parse(*op, options.inputColourSpaces, options.inputLayers, true, error))
      return false;
  }
  auto check = [&](const char* option, const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
      std::string caption, file;
      if (text.find('=') == std::string::npos && option != std::string("--input")) continue;
      if (!SplitAssignment(text, &caption, &file, error)) return false;
      bool found = false;
      for (const df::OperatorPtr& op : ops) {
        const df::Input* in = op->FindInputByName(caption);
        found = found || (in && in->IsImage());
      }
      if (found) continue;
      std::string known;
      for (const df::OperatorPtr& op : ops) {
        std::vector<std::string> captions;
        for (const df::Input* in : ImageInputs(*op)) captions.push_back(in->Name());
        if (captions.empty()) continue;
        known += (known.empty() ? "" : "; ") + QuotedList(captions) + " (" +
                 op->GetRegistry()->Name() + ")";
      }
      *error = std::string(option) + " \"" + text + "\": no tool has an image input \"" + caption +
               "\"; image inputs: " + (known.empty() ? "none" : known);
      return false;
    }
    return true;
  };
  return check("--input", options.inputs) &&
         check("--input-colorspace", options.inputColourSpaces) &&
         check("--input-layer", options.inputLayers);
}

}  // namespace

int RunServe(Host& host, const ServeOptions& options) {
  std::string error;
  serve::ApiSettings settings;
  serve::SessionSettings& ss = settings.session;
  ss.inputs = options.inputs;
  ss.inputColourSpaces = options.inputColourSpaces;
  ss.inputLayers = options.inputLayers;
  ss.quiet = options.quiet;
  if (!options.aspect.empty()) {
    ss.aspect = ParsePixelAspect(options.aspect, &error);
    if (!ss.aspect) {
      PrintError("--aspect: " + error);
      return kExitUsage;
    }
  }
  if (!ParseSize(options.size, kMaxImageSide, kMaxImagePixels, &ss.width, &ss.height, &error)) {
    PrintError("--size: " + error);
    return kExitUsage;
  }
  std::vector<int> frames;
  if (!ParseFrameList(options.frames, &frames, &error)) {
    PrintError("--frames: " + error);
    return kExitUsage;
  }
  ss.firstFrame = frames.front();
  ss.lastFrame = frames.back();
  if (options.port < 0 || options.port > 65535) {
    PrintError("--port: a port number 1 to 65535 (0 or none: a free port)");
    return kExitUsage;
  }

  // Files are read and written only in the current folder, the folders of
  // the files named here and each --root.
  serve::FileRoots roots;
  if (!roots.Add(".", &error)) {
    PrintError("the current folder: " + error);
    return kExitUsage;
  }
  for (const std::string& r : options.roots)
    if (!roots.Add(r, &error)) {
      PrintError("--root: " + error);
      return kExitUsage;
    }
  auto addFolderOf = [&](const std::string& file) {
    std::filesystem::path parent = std::filesystem::path(file).parent_path();
    std::string ignored;
    roots.Add(parent.empty() ? "." : parent.string(), &ignored);
  };
  for (const std::string& text : options.inputs) {
    std::string caption, file;
    if (!SplitAssignment(text, &caption, &file, &error) || file.empty()) {
      PrintError("--input \"" + text + "\": " + (error.empty() ? "no file after '='" : error) +
                 " (CAPTION=FILE)");
      return kExitUsage;
    }
    addFolderOf(file);
  }
  if (!options.comp.empty()) addFolderOf(options.comp);
  if (!InputsExist(host, options, &error)) {
    PrintError(error);
    return kExitUsage;
  }

  settings.token = serve::NewToken();
  if (settings.token.empty()) {
    PrintError("no random source (/dev/urandom) for the session's token");
    return kExitFailed;
  }
  settings.webDir = options.webDir.empty() ? DefaultWebDir() : options.webDir;
  settings.initialTool = options.tool;
  settings.comp = options.comp;
  // A page without its compiled scripts opens empty: refuse rather than
  // print a URL that shows nothing.
  for (const char* file : {"index.html", "dist/main.js"}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(settings.webDir + "/" + file, ec)) continue;
    PrintError("the page of vorn serve is not complete: no " + settings.webDir + "/" + file +
               ". Compile it with `cmake --build build/release --target vorn_web` (needs npm), "
               "or `(cd web && npm ci && npx tsc)` and --web web, or give --web DIR");
    return kExitUsage;
  }

  serve::Api api(host, std::move(roots), settings);
  if (!api.Start(&error)) {
    PrintError(error);
    return kExitUsage;
  }

  // Requests that carry the token are answered first: the page's own, or
  // the page opened from the URL printed at start.
  auto preferred = [token = settings.token](std::string_view head) {
    const std::string header = serve::HeadField(head, serve::kTokenHeader);
    if (!header.empty() && serve::SameToken(header, token)) return true;
    if (auto c = serve::CookieValue(serve::HeadField(head, "Cookie"), serve::kTokenCookie);
        c && serve::SameToken(*c, token))
      return true;
    const std::string target = serve::HeadTarget(head);
    if (target.rfind("/?", 0) != 0) return false;
    std::string_view query = std::string_view(target).substr(2);
    while (!query.empty()) {
      const size_t amp = query.find('&');
      const std::string_view param = query.substr(0, amp);
      if (param.rfind("token=", 0) == 0 && serve::SameToken(param.substr(6), token)) return true;
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return false;
  };
  serve::HttpServer server(serve::HttpLimits{}, preferred);
  server.Routes().set_payload_max_length(kMaxBodyBytes);
  auto handle = [&api](const httplib::Request& req, httplib::Response& res) {
    ToHttplib(api.Handle(FromHttplib(req)), res);
  };
  server.Routes().Get(".*", handle);
  server.Routes().Post(".*", handle);
  const int port = server.Listen("127.0.0.1", options.port, &error);
  if (port < 0) {
    PrintError(error);
    return kExitUsage;
  }
  std::printf("vorn serve: open http://127.0.0.1:%d/?token=%s\n", port, settings.token.c_str());
  if (!options.quiet)
    std::printf("The page's files: %s\nCtrl-C ends the session.\n", settings.webDir.c_str());
  std::fflush(stdout);
  // A signal ends the session. While an export renders, the signal handler
  // only asks that render to wind down, so the server is stopped from here.
  std::atomic<bool> ended{false};
  std::thread watcher([&server, &ended] {
    while (!ended.load()) {
      if (InterruptSignal() != 0) {
        server.Stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const bool served = server.Run();
  ended.store(true);
  watcher.join();
  if (const int sig = InterruptSignal(); sig != 0) {
    PrintError(std::string("session ended by ") + SignalName(sig));
    return InterruptExitCode(sig);
  }
  if (!served) {
    PrintError("the server stopped");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace vorn
