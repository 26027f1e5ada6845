// The search expression is parsed into a small tree, which becomes an
// automaton that is matched against the resource string in one pass.
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

// The tree as a nondeterministic automaton with one state per character
// test and per branch point. Matching walks the set of live states once
// along the string, so the time is the pattern's size times the string's
// length however the repeats nest: matching the tree itself, repeat inside
// repeat, took time that grows with the string's length to the power of the
// nesting depth ("(((a*)*)*)*", "?***++++"), long enough to hang a search.
class Automaton {
 public:
  explicit Automaton(const Node& tree) {
    int accept = add_state(nullptr);
    start_ = compile(tree, accept);
  }

  bool matches(std::string_view text) const {
    std::vector<bool> live(states_.size(), false);
    add_closure(start_, &live);
    for (char c : text) {
      std::vector<bool> next(states_.size(), false);
      for (size_t s = 0; s < states_.size(); ++s) {
        const State& st = states_[s];
        if (live[s] && st.test != nullptr && matches_one(*st.test, c)) add_closure(st.next[0], &next);
      }
      live = std::move(next);
    }
    return live[kAccept];
  }

 private:
  static constexpr int kAccept = 0;

  // A state with a test consumes one matching character and goes to next[0];
  // a state without one goes to every state of next without consuming any
  // (the accepting state has no test and no next).
  struct State {
    const Node* test;
    std::vector<int> next;
  };

  int add_state(const Node* test) {
    states_.push_back(State{test, {}});
    return static_cast<int>(states_.size()) - 1;
  }

  // The states of n, which go on to then. Returns the state n starts in.
  int compile(const Node& n, int then) {
    switch (n.kind) {
      case Node::kChar:
      case Node::kAny:
      case Node::kClass: {
        int s = add_state(&n);
        states_[static_cast<size_t>(s)].next.push_back(then);
        return s;
      }
      case Node::kSeq:
        for (auto kid = n.kids.rbegin(); kid != n.kids.rend(); ++kid) then = compile(**kid, then);
        return then;
      case Node::kAlt: {
        int branch = add_state(nullptr);
        for (const NodePtr& kid : n.kids) {
          int entry = compile(*kid, then);
          states_[static_cast<size_t>(branch)].next.push_back(entry);
        }
        return branch;
      }
      case Node::kStar:
      case Node::kPlus: {
        int loop = add_state(nullptr);
        int body = compile(*n.kids[0], loop);
        states_[static_cast<size_t>(loop)].next = {body, then};
        return n.kind == Node::kStar ? loop : body;
      }
    }
    return then;
  }

  // Adds s and every state reachable from it without consuming a character.
  void add_closure(int s, std::vector<bool>* set) const {
    std::vector<int> todo{s};
    while (!todo.empty()) {
      int at = todo.back();
      todo.pop_back();
      if ((*set)[static_cast<size_t>(at)]) continue;
      (*set)[static_cast<size_t>(at)] = true;
      const State& st = states_[static_cast<size_t>(at)];
      if (st.test == nullptr) todo.insert(todo.end(), st.next.begin(), st.next.end());
    }
  }

  std::vector<State> states_;
  int start_ = kAccept;
};

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
  return Automaton(*tree).matches(rsrc) ? SearchMatch::kMatch : SearchMatch::kNoMatch;
}
