// The search expression is parsed into a small tree and matched by sets of
// positions (all the places a sub-expression can end, for every place it can
// start), so that expressions like (a*)* stay polynomial however they nest.
#include "visa/search_expr.h"

#include <cctype>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Node {
  enum Kind { kChar, kAny, kClass, kSeq, kAlt, kStar, kPlus };
  Kind kind;
  char c = 0;                               // kChar
  bool negated = false;                     // kClass
  std::vector<std::pair<char, char>> ranges;  // kClass
  std::vector<std::unique_ptr<Node>> kids;  // kSeq, kAlt: the parts; kStar, kPlus: one
};

using NodePtr = std::unique_ptr<Node>;

NodePtr make(Node::Kind kind) {
  auto n = std::make_unique<Node>();
  n->kind = kind;
  return n;
}

class Parser {
 public:
  explicit Parser(std::string_view pattern) : p_(pattern) {}

  // Returns nullptr when the expression is malformed.
  NodePtr parse() {
    NodePtr n = alternation();
    if (!ok_ || pos_ != p_.size()) return nullptr;
    return n;
  }

 private:
  NodePtr alternation() {
    NodePtr alt = make(Node::kAlt);
    alt->kids.push_back(sequence());
    while (ok_ && pos_ < p_.size() && p_[pos_] == '|') {
      ++pos_;
      alt->kids.push_back(sequence());
    }
    return alt;
  }

  NodePtr sequence() {
    NodePtr seq = make(Node::kSeq);
    while (ok_ && pos_ < p_.size() && p_[pos_] != '|' && p_[pos_] != ')') {
      char c = p_[pos_];
      if (c == '*' || c == '+') {
        if (seq->kids.empty()) return fail();  // nothing to repeat
        NodePtr rep = make(c == '*' ? Node::kStar : Node::kPlus);
        rep->kids.push_back(std::move(seq->kids.back()));
        seq->kids.back() = std::move(rep);
        ++pos_;
        continue;
      }
      NodePtr a = atom();
      if (!a) return fail();
      seq->kids.push_back(std::move(a));
    }
    return seq;
  }

  NodePtr atom() {
    char c = p_[pos_++];
    switch (c) {
      case '?': return make(Node::kAny);
      case '(': {
        NodePtr inner = alternation();
        if (!ok_ || pos_ >= p_.size() || p_[pos_] != ')') return nullptr;
        ++pos_;
        return inner;
      }
      case '[': return char_class();
      case '\\':
        if (pos_ >= p_.size()) return nullptr;
        return literal(p_[pos_++]);
      default: return literal(c);
    }
  }

  NodePtr char_class() {
    NodePtr cls = make(Node::kClass);
    if (pos_ < p_.size() && p_[pos_] == '^') {
      cls->negated = true;
      ++pos_;
    }
    while (pos_ < p_.size() && p_[pos_] != ']') {
      char lo = p_[pos_++];
      if (lo == '\\') {
        if (pos_ >= p_.size()) return nullptr;
        lo = p_[pos_++];
      }
      char hi = lo;
      if (pos_ + 1 < p_.size() && p_[pos_] == '-' && p_[pos_ + 1] != ']') {
        hi = p_[pos_ + 1];
        pos_ += 2;
        if (hi < lo) return nullptr;
      }
      cls->ranges.emplace_back(lo, hi);
    }
    if (pos_ >= p_.size() || cls->ranges.empty()) return nullptr;
    ++pos_;  // ']'
    return cls;
  }

  static NodePtr literal(char c) {
    NodePtr n = make(Node::kChar);
    n->c = c;
    return n;
  }

  NodePtr fail() {
    ok_ = false;
    return nullptr;
  }

  std::string_view p_;
  size_t pos_ = 0;
  bool ok_ = true;
};

using Positions = std::vector<bool>;  // positions[i]: a match can stand at index i

char fold(char c) { return static_cast<char>(tolower(static_cast<unsigned char>(c))); }

bool in_class(const Node& cls, char c) {
  bool hit = false;
  for (auto [lo, hi] : cls.ranges) {
    for (char v : {c, fold(c), static_cast<char>(toupper(static_cast<unsigned char>(c)))}) {
      if (v >= lo && v <= hi) hit = true;
    }
  }
  return hit != cls.negated;
}

bool matches_one(const Node& n, char c) {
  switch (n.kind) {
    case Node::kChar: return fold(n.c) == fold(c);
    case Node::kAny: return true;
    case Node::kClass: return in_class(n, c);
    default: return false;
  }
}

bool any(const Positions& s) {
  for (bool b : s) {
    if (b) return true;
  }
  return false;
}

// The positions where n can end when it starts at any position of from.
Positions advance(const Node& n, const Positions& from, std::string_view text) {
  Positions to(from.size(), false);
  switch (n.kind) {
    case Node::kChar:
    case Node::kAny:
    case Node::kClass:
      for (size_t i = 0; i + 1 < from.size(); ++i) {
        if (from[i] && matches_one(n, text[i])) to[i + 1] = true;
      }
      return to;
    case Node::kSeq: {
      Positions at = from;
      for (const NodePtr& kid : n.kids) at = advance(*kid, at, text);
      return at;
    }
    case Node::kAlt:
      for (const NodePtr& kid : n.kids) {
        Positions part = advance(*kid, from, text);
        for (size_t i = 0; i < to.size(); ++i) to[i] = to[i] || part[i];
      }
      return to;
    case Node::kStar:
    case Node::kPlus: {
      Positions frontier = n.kind == Node::kStar ? from : advance(*n.kids[0], from, text);
      to = frontier;
      // Each round adds at least one new position, so this ends after at
      // most text.size() + 1 rounds.
      while (any(frontier)) {
        Positions next = advance(*n.kids[0], frontier, text);
        for (size_t i = 0; i < to.size(); ++i) {
          next[i] = next[i] && !to[i];
          to[i] = to[i] || next[i];
        }
        frontier = std::move(next);
      }
      return to;
    }
  }
  return to;
}

// The pattern part of an expression: everything before an attribute
// expression in braces, which this matcher accepts without evaluating.
bool split_attributes(std::string_view expr, std::string_view* pattern) {
  size_t depth = 0;
  for (size_t i = 0; i < expr.size(); ++i) {
    char c = expr[i];
    if (c == '\\') {
      ++i;
    } else if (c == '[') {
      depth = 1;
    } else if (c == ']') {
      depth = 0;
    } else if (c == '{' && depth == 0) {
      *pattern = expr.substr(0, i);
      return expr.back() == '}';
    }
  }
  *pattern = expr;
  return true;
}

}  // namespace

SearchMatch visa_search_match(std::string_view expr, std::string_view rsrc) {
  std::string_view pattern;
  if (!split_attributes(expr, &pattern)) return SearchMatch::kInvalid;
  NodePtr tree = Parser(pattern).parse();
  if (!tree) return SearchMatch::kInvalid;
  Positions start(rsrc.size() + 1, false);
  start[0] = true;
  Positions end = advance(*tree, start, rsrc);
  return end[rsrc.size()] ? SearchMatch::kMatch : SearchMatch::kNoMatch;
}
