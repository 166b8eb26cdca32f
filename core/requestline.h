// Request lines sent to a DICT server.
#pragma once
#include <stddef.h>

// Room for a request line; a request that does not fit is not sent.
const int dictRequestSize = 1024;

// Builds a request line into request (dictRequestSize bytes) from a format with one or two texts
// (the second may be null), each given as one parameter: a text with blanks or quotes goes in
// double quotes. False when it does not fit or a text would break the request line.
bool buildRequest(char* request, const char* format, const char* first, const char* second, size_t* length);
