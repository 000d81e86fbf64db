#include "agent/voice_grammar.h"

#include <QSet>

#include <functional>

namespace agent {

namespace {

struct Token {
  enum Kind { Word, Open, Close, OpenOptional, CloseOptional, Bar } kind;
  QString word;
};

std::vector<Token> tokenize(const QString& text) {
  std::vector<Token> out;
  QString word;
  auto flush = [&] {
    if (!word.isEmpty()) out.push_back({Token::Word, word.toLower()});
    word.clear();
  };
  for (QChar c : text) {
    if (c.isLetterOrNumber() || c == QLatin1Char('\'')) {
      word += c;
      continue;
    }
    flush();
    switch (c.unicode()) {
      case '(': out.push_back({Token::Open, {}}); break;
      case ')': out.push_back({Token::Close, {}}); break;
      case '[': out.push_back({Token::OpenOptional, {}}); break;
      case ']': out.push_back({Token::CloseOptional, {}}); break;
      case '|': out.push_back({Token::Bar, {}}); break;
      default: break;  // blanks and punctuation separate words
    }
  }
  flush();
  return out;
}

struct Parser {
  const std::vector<Token>& tokens;
  size_t pos = 0;
  QString error;

  // choice := sequence ('|' sequence)*
  VoiceGrammar::Node choice() {
    VoiceGrammar::Node node;
    node.kind = VoiceGrammar::Node::Choice;
    node.children.push_back(sequence());
    while (error.isEmpty() && pos < tokens.size() && tokens[pos].kind == Token::Bar) {
      ++pos;
      node.children.push_back(sequence());
    }
    for (const auto& alternative : node.children)
      if (error.isEmpty() && alternative.children.empty()) error = QStringLiteral("an alternative is empty");
    return node;
  }

  VoiceGrammar::Node sequence() {
    VoiceGrammar::Node node;
    node.kind = VoiceGrammar::Node::Sequence;
    while (error.isEmpty() && pos < tokens.size()) {
      const Token& t = tokens[pos];
      if (t.kind == Token::Word) {
        VoiceGrammar::Node w;
        w.kind = VoiceGrammar::Node::Word;
        w.word = t.word;
        node.children.push_back(w);
        ++pos;
      } else if (t.kind == Token::Open || t.kind == Token::OpenOptional) {
        const bool optional = t.kind == Token::OpenOptional;
        ++pos;
        VoiceGrammar::Node inner = choice();
        if (!error.isEmpty()) break;
        const Token::Kind close = optional ? Token::CloseOptional : Token::Close;
        if (pos >= tokens.size() || tokens[pos].kind != close) {
          error = optional ? QStringLiteral("a \"[\" is not closed by \"]\"")
                           : QStringLiteral("a \"(\" is not closed by \")\"");
          break;
        }
        ++pos;
        if (optional) {
          VoiceGrammar::Node o;
          o.kind = VoiceGrammar::Node::Optional;
          o.children.push_back(std::move(inner));
          node.children.push_back(std::move(o));
        } else {
          node.children.push_back(std::move(inner));
        }
      } else {
        break;  // ')' ']' '|' end the sequence
      }
    }
    return node;
  }
};

QString render(const VoiceGrammar::Node& n) {
  switch (n.kind) {
    case VoiceGrammar::Node::Word: return n.word;
    case VoiceGrammar::Node::Sequence: {
      QStringList parts;
      for (const auto& c : n.children) parts << render(c);
      return parts.join(QLatin1Char(' '));
    }
    case VoiceGrammar::Node::Optional: return QStringLiteral("[ ") + render(n.children.front()) + QStringLiteral(" ]");
    case VoiceGrammar::Node::Choice: {
      QStringList parts;
      for (const auto& c : n.children) parts << render(c);
      return parts.size() == 1 ? parts.front()
                               : QStringLiteral("( ") + parts.join(QStringLiteral(" | ")) + QStringLiteral(" )");
    }
  }
  return {};
}

// Every position in `words` where a match of `n` starting at `from` can end.
std::vector<qsizetype> ends(const VoiceGrammar::Node& n, const QStringList& words, qsizetype from) {
  switch (n.kind) {
    case VoiceGrammar::Node::Word:
      if (from < words.size() && words[from] == n.word) return {from + 1};
      return {};
    case VoiceGrammar::Node::Sequence: {
      std::vector<qsizetype> at{from};
      for (const auto& c : n.children) {
        std::vector<qsizetype> next;
        for (qsizetype p : at)
          for (qsizetype e : ends(c, words, p))
            if (std::find(next.begin(), next.end(), e) == next.end()) next.push_back(e);
        at = std::move(next);
        if (at.empty()) break;
      }
      return at;
    }
    case VoiceGrammar::Node::Optional: {
      std::vector<qsizetype> out{from};
      for (qsizetype e : ends(n.children.front(), words, from))
        if (e != from) out.push_back(e);
      return out;
    }
    case VoiceGrammar::Node::Choice: {
      std::vector<qsizetype> out;
      for (const auto& c : n.children)
        for (qsizetype e : ends(c, words, from))
          if (std::find(out.begin(), out.end(), e) == out.end()) out.push_back(e);
      return out;
    }
  }
  return {};
}

QStringList expand(const VoiceGrammar::Node& n) {
  switch (n.kind) {
    case VoiceGrammar::Node::Word: return {n.word};
    case VoiceGrammar::Node::Sequence: {
      QStringList out{QString()};
      for (const auto& c : n.children) {
        QStringList next;
        for (const QString& head : out)
          for (const QString& tail : expand(c))
            next << (head.isEmpty() ? tail : tail.isEmpty() ? head : head + QLatin1Char(' ') + tail);
        out = next;
      }
      return out;
    }
    case VoiceGrammar::Node::Optional: return QStringList{QString()} + expand(n.children.front());
    case VoiceGrammar::Node::Choice: {
      QStringList out;
      for (const auto& c : n.children) out << expand(c);
      return out;
    }
  }
  return {};
}

void collect(const VoiceGrammar::Node& n, QStringList& out) {
  if (n.kind == VoiceGrammar::Node::Word && !out.contains(n.word)) out << n.word;
  for (const auto& c : n.children) collect(c, out);
}

QString ruleName(const QString& command) {
  QString out;
  for (QChar c : command)
    if (c.isLetterOrNumber() && c.unicode() < 128) out += c;
  return out.isEmpty() ? QStringLiteral("command") : out;
}

}  // namespace

VoiceGrammar VoiceGrammar::parse(const QString& text) {
  VoiceGrammar g;
  const std::vector<Token> tokens = tokenize(text);
  if (tokens.empty()) return g;
  Parser p{tokens};
  Node root = p.choice();
  if (p.error.isEmpty() && p.pos < tokens.size())
    p.error = QStringLiteral("an unexpected \"%1\"")
                  .arg(tokens[p.pos].kind == Token::Close           ? QStringLiteral(")")
                       : tokens[p.pos].kind == Token::CloseOptional ? QStringLiteral("]")
                                                                    : QStringLiteral("|"));
  if (!p.error.isEmpty()) {
    g.m_valid = false;
    g.m_error = p.error;
    return g;
  }
  // A grammar of nothing but optional parts would match silence.
  if (expand(root).contains(QString())) {
    g.m_valid = false;
    g.m_error = QStringLiteral("every word is optional");
    return g;
  }
  g.m_root.kind = Node::Sequence;
  g.m_root.children.push_back(std::move(root));
  return g;
}

QString VoiceGrammar::jsgf() const { return m_valid ? render(m_root) : QString(); }

bool VoiceGrammar::matches(const QStringList& words) const {
  if (!m_valid || m_root.children.empty()) return false;
  const auto e = ends(m_root, words, 0);
  return std::find(e.begin(), e.end(), words.size()) != e.end();
}

QStringList VoiceGrammar::vocabulary() const {
  QStringList out;
  collect(m_root, out);
  return out;
}

QStringList VoiceGrammar::phrases() const {
  if (!m_valid || m_root.children.empty()) return {};
  QStringList out;
  for (const QString& p : expand(m_root))
    if (!out.contains(p)) out << p;
  return out;
}

QString commandsJsgf(const std::vector<Command>& commands, QStringList* problems) {
  QStringList rules;
  QStringList names;
  QSet<QString> used;
  for (const Command& c : commands) {
    const VoiceGrammar g = VoiceGrammar::parse(c.voice);
    if (!g.isValid()) {
      if (problems) *problems << QStringLiteral("command %1: voice \"%2\": %3").arg(c.name, c.voice, g.error());
      continue;
    }
    if (g.isEmpty() || !c.enabled) continue;
    QString name = ruleName(c.name);
    for (int n = 2; used.contains(name.toLower()); ++n) name = ruleName(c.name) + QString::number(n);
    used.insert(name.toLower());
    names << QStringLiteral("<%1>").arg(name);
    rules << QStringLiteral("<%1> = %2;").arg(name, g.jsgf());
  }
  if (names.isEmpty()) return {};
  return QStringLiteral("#JSGF V1.0;\ngrammar commands;\npublic <command> = %1;\n%2\n")
      .arg(names.join(QStringLiteral(" | ")), rules.join(QLatin1Char('\n')));
}

QString commandForPhrase(const std::vector<Command>& commands, const QString& phrase) {
  const QStringList words = phrase.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (words.isEmpty()) return {};
  for (const Command& c : commands)
    if (c.enabled && VoiceGrammar::parse(c.voice).matches(words)) return c.name;
  return {};
}

}  // namespace agent
