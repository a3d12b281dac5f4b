#pragma once
// The words for refusals and failures that the layers below the window
// report as facts (dz::TProblem), in the window's language.

#include <QString>

#include <string>

// text worded for the user: an encoded problem in the chosen language,
// any other text (an exception's own words, a path) as it is.
QString WordedProblem(const std::string &text);
