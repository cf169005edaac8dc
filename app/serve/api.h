// The request handling of `vorn serve`, apart from the network: every request
// is checked for the run's token, then answered from the page's files or the
// JSON API. Refused requests (4xx, with a message the page shows) change
// nothing.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host.h"
#include "image_formats.h"
#include "output_pattern.h"
#include "serve/file_roots.h"
#include "serve/session.h"

namespace vorn::serve {

struct HttpRequest {
  std::string method;  // "GET", "POST"
  std::string path;    // without the query
  std::map<std::string, std::string> query;
  std::string body;
  std::string cookie;       // the Cookie header
  std::string tokenHeader;  // the X-Vorn-Token header
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

struct ApiSettings {
  SessionSettings session;
  std::string token;
  std::string webDir;       // index.html, style.css and dist/*.js
  std::string initialTool;  // display name; empty: the page chooses
  std::string comp;         // composition to open first (already checked)
};

class Api {
 public:
  Api(Host& host, FileRoots roots, ApiSettings settings);
  ~Api();

  // Opens the first composition and the initial tool. False with the reason.
  bool Start(std::string* error);
  HttpResponse Handle(const HttpRequest& request);

  // The session of a tool, made on first use; null with the reason.
  Session* SessionFor(const std::string& tool, std::string* error);

 private:
  HttpResponse Static(const HttpRequest& request);
  HttpResponse Tools();
  HttpResponse Frame(const HttpRequest& request);
  HttpResponse Post(const HttpRequest& request);
  HttpResponse Load(const nlohmann::json& body, int time);
  HttpResponse Save(Session& session, const nlohmann::json& body);
  struct ExportTarget {
    std::string frames, path, rootFolder;  // as given; the file pattern; its root
    std::vector<int> list;
    std::optional<FramePattern> absolute;  // `path` parsed
    std::optional<ImageFormat> format;
  };
  std::optional<HttpResponse> CheckExport(const nlohmann::json& body, int first, int last,
                                          const char* range, ExportTarget* target);
  HttpResponse Export(Session& session, const nlohmann::json& body);
  HttpResponse ExportFlow(Session& session, const nlohmann::json& body);
  HttpResponse NodeRequest(Session& session, const std::string& path, const nlohmann::json& body,
                           int time);
  // The flow session, made (empty) when there is none.
  Session* FlowSession();
  HttpResponse ExportStatus();
  HttpResponse Wait(Session& session, const HttpRequest& request);
  HttpResponse InputImage(Session& session, const HttpRequest& request);
  bool Authorised(const HttpRequest& request, bool* fromQuery) const;

  Host& host_;
  FileRoots roots_;
  ApiSettings settings_;
  std::mutex sessionsMutex_;
  std::map<df::Registry*, std::unique_ptr<Session>> sessions_;
  // The flow open (one a server), made by the first flow loaded or asked for.
  std::unique_ptr<Session> flow_;
  // One composition file is read or written at a time.
  std::mutex filesMutex_;
  // The export in progress (one at a time), which the page shows and may
  // cancel: files written of the frames asked for. It is claimed, set up,
  // cancelled and reported under exportMutex_, so a status never shows a
  // running export with the last one's tool or counts, and a cancel is not
  // undone by the setting up; the render counts and reads the atomics.
  bool ClaimExport(const std::string& tool, int total);
  void ReleaseExport();
  std::mutex exportMutex_;
  std::atomic<bool> exporting_{false};
  std::atomic<int> exportDone_{0}, exportTotal_{0}, exportCancel_{0};
  std::string exportTool_;  // guarded by exportMutex_
  // Pages waiting for the next change (GET /api/wait), and the end of the
  // session, which ends their waits.
  std::atomic<int> waiting_{0};
  std::atomic<bool> closing_{false};
};

}  // namespace vorn::serve
