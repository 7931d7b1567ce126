#pragma once
// What every answer of the service's own carries, for the pages of each part of the
// front (battles, ladder, tournaments) alike.

#include "common/Json.h"

#include <string_view>

namespace httplib {
struct Response;
} // namespace httplib

namespace morvane {

// Our own pages load nothing but our own scripts and styles, and are never framed.
void secure(httplib::Response& res);
// A JSON answer, never cached.
void json(httplib::Response& res, int status, const Json& body);
// 400 for a JSON body that is not the object the call takes: the pages' words, and the
// fields it takes in English beside them.
void badBody(httplib::Response& res, std::string_view fields);

} // namespace morvane
