#include "expand.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace art {
namespace {

// Recursive descent over the expression text; the first error sticks and ends the parse.
struct Parser {
  const std::string& text;
  const Variables& variables;
  size_t at = 0;
  std::string error;

  void skipSpace() {
    while (at < text.size() && isspace(static_cast<unsigned char>(text[at]))) ++at;
  }
  bool take(char c) {
    skipSpace();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  double fail(const std::string& message) {
    if (error.empty()) error = message;
    return 0;
  }

  double sum() {
    double value = product();
    while (error.empty()) {
      if (take('+')) {
        value += product();
      } else if (take('-')) {
        value -= product();
      } else {
        break;
      }
    }
    return value;
  }
  double product() {
    double value = power();
    while (error.empty()) {
      if (take('*')) {
        value *= power();
      } else if (take('/')) {
        double divisor = power();
        if (divisor == 0) return fail("division by zero");
        value /= divisor;
      } else {
        break;
      }
    }
    return value;
  }
  double power() {
    double base = unary();
    if (error.empty() && take('^')) return std::pow(base, power());
    return base;
  }
  double unary() {
    if (take('-')) return -unary();
    if (take('+')) return unary();
    return primary();
  }
  double primary() {
    skipSpace();
    if (at >= text.size()) return fail("expression ends too early");
    if (take('(')) {
      double value = sum();
      if (!take(')')) return fail("missing )");
      return value;
    }
    char c = text[at];
    if (isdigit(static_cast<unsigned char>(c)) || c == '.') return number();
    if (isalpha(static_cast<unsigned char>(c)) || c == '_') return name();
    return fail(std::string("unexpected '") + c + "'");
  }
  double number() {
    const char* start = text.c_str() + at;
    char* end = nullptr;
    double value = strtod(start, &end);
    if (end == start) return fail("bad number");
    at += static_cast<size_t>(end - start);
    return value;
  }
  double name() {
    size_t start = at;
    while (at < text.size() && (isalnum(static_cast<unsigned char>(text[at])) || text[at] == '_')) ++at;
    std::string word = text.substr(start, at - start);
    if (take('(')) return call(word);
    auto found = variables.find(word);
    if (found == variables.end()) return fail("unknown name " + word);
    return found->second;
  }
  double call(const std::string& function) {
    std::vector<double> arguments;
    if (!take(')')) {
      do {
        arguments.push_back(sum());
      } while (error.empty() && take(','));
      if (!take(')')) return fail("missing ) after arguments of " + function);
    }
    return apply(function, arguments);
  }
  double apply(const std::string& f, const std::vector<double>& a) {
    size_t n = a.size();
    if (f == "sin" && n == 1) return std::sin(a[0]);
    if (f == "cos" && n == 1) return std::cos(a[0]);
    if (f == "abs" && n == 1) return std::fabs(a[0]);
    if (f == "min" && n == 2) return std::fmin(a[0], a[1]);
    if (f == "max" && n == 2) return std::fmax(a[0], a[1]);
    if (f == "clamp" && n == 3) return std::fmin(std::fmax(a[0], a[1]), a[2]);
    if (f == "wave" && n == 1) return std::sin(a[0] * 2 * M_PI);
    if (f == "floor" && n == 1) return std::floor(a[0]);
    if (f == "frac" && n == 1) return a[0] - std::floor(a[0]);
    if (f == "smooth" && n == 1) {
      double t = std::fmin(std::fmax(a[0], 0.0), 1.0);
      return t * t * (3 - 2 * t);
    }
    return fail("unknown function " + f + " with " + std::to_string(n) + " arguments");
  }
};

}  // namespace

bool evaluate(const std::string& expression, const Variables& variables, double* value,
              std::string* error) {
  Parser parser{expression, variables, 0, {}};
  double result = parser.sum();
  parser.skipSpace();
  if (parser.error.empty() && parser.at != expression.size()) parser.error = "trailing text";
  if (parser.error.empty() && !std::isfinite(result)) parser.error = "not a finite number";
  if (!parser.error.empty()) {
    if (error) *error = parser.error;
    return false;
  }
  *value = result;
  return true;
}

bool expandTemplate(const std::string& text, const Variables& variables, std::string* out,
                    std::string* error) {
  out->clear();
  size_t at = 0;
  while (true) {
    size_t open = text.find("{{", at);
    if (open == std::string::npos) break;
    size_t close = text.find("}}", open + 2);
    if (close == std::string::npos) {
      if (error) *error = "unclosed {{ at offset " + std::to_string(open);
      return false;
    }
    out->append(text, at, open - at);
    std::string expression = text.substr(open + 2, close - open - 2);
    double value = 0;
    std::string why;
    if (!evaluate(expression, variables, &value, &why)) {
      if (error) *error = "{{" + expression + "}}: " + why;
      return false;
    }
    char number[64];
    snprintf(number, sizeof number, "%.3f", value);
    out->append(number);
    at = close + 2;
  }
  out->append(text, at, std::string::npos);
  return true;
}

Variables frameVariables(int index, int count) {
  Variables v;
  v["i"] = index;
  v["n"] = count;
  v["p"] = count > 0 ? static_cast<double>(index) / count : 0.0;
  v["pi"] = M_PI;
  return v;
}

}  // namespace art
