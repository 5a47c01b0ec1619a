// Picture templates: SVG text with {{expression}} holes, filled in once per animation frame.
#pragma once

#include <map>
#include <string>

namespace art {

using Variables = std::map<std::string, double>;

// Evaluates numbers, variables, + - * / ^, unary minus, parentheses and the functions sin, cos,
// abs, min, max, clamp, floor, frac (the part after the point), smooth (0..1 ease) and wave (sin
// of a turn fraction, so wave(p) loops once per animation). Returns false with
// a message in *error on a syntax error or an unknown name.
bool evaluate(const std::string& expression, const Variables& variables, double* value,
              std::string* error);

// Replaces every {{expression}} in text by its value. Returns false (with *error naming the
// expression) when one cannot be evaluated or a hole is not closed.
bool expandTemplate(const std::string& text, const Variables& variables, std::string* out,
                    std::string* error);

// The variables of frame index of count: i, n, p = i / n (the phase, 0 at the first frame), pi.
Variables frameVariables(int index, int count);

}  // namespace art
