#include "agent/character_file.h"

#include "path_data.h"
#include "sound_effects.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <concepts>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace agent {

qint64 Animation::durationMs() const {
  qint64 total = 0;
  for (const KeyFrame& f : frames) total += f.durationMs;
  return total;
}

const Animation* CharacterDefinition::findAnimation(const QString& name) const {
  const QString wanted = name.trimmed();
  for (const Animation& a : animations)
    if (a.name.compare(wanted, Qt::CaseInsensitive) == 0) return &a;
  return nullptr;
}

QStringList CharacterDefinition::animationNames() const {
  QStringList names;
  for (const Animation& a : animations) names << a.name;
  return names;
}

int CharacterDefinition::findPart(const QString& id) const {
  for (size_t i = 0; i < parts.size(); ++i)
    if (parts[i].id == id) return int(i);
  return -1;
}

namespace {

// Where a character file is at fault and what is wrong there.
struct Fault {
  QString where;
  QString what;
};

// What a parsing step returns once it has noted a fault: false from a step that says whether it
// succeeded, no value from a step that gives one. The parse stops at the first fault.
struct Failed {
  template <typename B>
  requires std::same_as<B, bool>
  operator B() const { return false; }
  template <typename T>
  operator std::optional<T>() const {
    return std::nullopt;
  }
};

using Limits = CharacterLimits;

class Parser {
 public:
  explicit Parser(CharacterDefinition& def) : m_def(def) {}

  // The file's first fault, if it has one.
  std::optional<Fault> parse(const QJsonObject& root) {
    if (!parseRoot(root)) return m_fault;
    return std::nullopt;
  }

 private:
  // Stores a step's value in `into`; false when the step failed.
  template <typename T, typename Field>
  static bool assign(const std::optional<T>& value, Field& into) {
    if (!value) return false;
    into = *value;
    return true;
  }

  Failed fail(const QString& where, const QString& what) {
    m_fault = Fault{where, what};
    return {};
  }

  // The file asks for more than any character may have.
  Failed overLimit(const QString& where, qint64 count, const QString& what, qint64 limit) {
    return fail(where, QStringLiteral("%1 %2; the limit is %3").arg(count).arg(what).arg(limit));
  }

  bool parseRoot(const QJsonObject& root) {
    const QString format = root.value(QLatin1String("format")).toString();
    if (format != QLatin1String("olm-chimewise-character"))
      return fail(QStringLiteral("format"),
                  QStringLiteral("not an Olm Chimewise character file (format must be \"olm-chimewise-character\")"));
    const std::optional<int> version = integer(root, QStringLiteral("version"), QString(), 1, 1000);
    if (!version) return false;
    if (*version != 1)
      return fail(QStringLiteral("version"),
                  QStringLiteral("version %1 is not supported (this program reads version 1)").arg(*version));
    const std::optional<QString> name = text(root, QStringLiteral("name"), QString());
    if (!name) return false;
    if (name->trimmed().isEmpty()) return fail(QStringLiteral("name"), QStringLiteral("must not be empty"));
    m_def.name = *name;
    m_def.description = root.value(QLatin1String("description")).toString();
    if (!assign(integer(root, QStringLiteral("width"), QString(), 16, 2048), m_def.width)) return false;
    if (!assign(integer(root, QStringLiteral("height"), QString(), 16, 2048), m_def.height)) return false;
    if (root.contains(QLatin1String("origin"))) {
      if (!assign(point(root.value(QLatin1String("origin")), QStringLiteral("origin")), m_def.origin)) return false;
    }
    if (!assign(integerOr(root, QStringLiteral("fps"), QString(), 1, 60, 20), m_def.fps)) return false;
    const std::optional<QJsonObject> voice = object(root, QStringLiteral("voice"), QString());
    if (!voice || !parseVoice(*voice)) return false;
    const std::optional<QJsonArray> parts = array(root, QStringLiteral("parts"), QString());
    if (!parts || !parseParts(*parts)) return false;
    const std::optional<QJsonObject> mouth = object(root, QStringLiteral("mouth"), QString());
    if (!mouth || !parseMouth(*mouth)) return false;
    m_def.rest = Pose(m_def.parts.size());
    if (!addPartStates(QStringLiteral("parts"), 1)) return false;
    for (size_t i = 0; i < m_def.parts.size(); ++i) m_def.rest[i].opacity = m_hidden[i] ? 0 : 1;
    if (root.contains(QLatin1String("sounds"))) {
      const std::optional<QJsonObject> sounds = object(root, QStringLiteral("sounds"), QString());
      if (!sounds || !parseSounds(*sounds)) return false;
    }
    if (root.contains(QLatin1String("poses"))) {
      const std::optional<QJsonObject> poses = object(root, QStringLiteral("poses"), QString());
      if (!poses || !parsePoses(*poses)) return false;
    }
    const std::optional<QJsonObject> animations = object(root, QStringLiteral("animations"), QString());
    if (!animations || !parseAnimations(*animations)) return false;
    if (root.contains(QLatin1String("idle"))) {
      const std::optional<QJsonObject> idle = object(root, QStringLiteral("idle"), QString());
      if (!idle || !parseIdle(*idle)) return false;
    }
    return true;
  }

  static QString join(const QString& where, const QString& key) {
    return where.isEmpty() ? key : where + QLatin1Char('.') + key;
  }

  std::optional<QJsonValue> required(const QJsonObject& o, const QString& key, const QString& where) {
    if (!o.contains(key)) return fail(join(where, key), QStringLiteral("missing"));
    return o.value(key);
  }

  std::optional<QJsonObject> object(const QJsonObject& o, const QString& key, const QString& where) {
    const std::optional<QJsonValue> v = required(o, key, where);
    if (!v) return std::nullopt;
    if (!v->isObject()) return fail(join(where, key), QStringLiteral("must be an object"));
    return v->toObject();
  }

  std::optional<QJsonArray> array(const QJsonObject& o, const QString& key, const QString& where) {
    const std::optional<QJsonValue> v = required(o, key, where);
    if (!v) return std::nullopt;
    if (!v->isArray()) return fail(join(where, key), QStringLiteral("must be an array"));
    return v->toArray();
  }

  std::optional<QString> text(const QJsonObject& o, const QString& key, const QString& where) {
    const std::optional<QJsonValue> v = required(o, key, where);
    if (!v) return std::nullopt;
    if (!v->isString()) return fail(join(where, key), QStringLiteral("must be a string"));
    return v->toString();
  }

  std::optional<double> number(const QJsonValue& v, const QString& where, double min, double max) {
    if (!v.isDouble() || !std::isfinite(v.toDouble())) return fail(where, QStringLiteral("must be a number"));
    const double d = v.toDouble();
    if (d < min || d > max) return fail(where, QStringLiteral("%1 is outside %2 to %3").arg(d).arg(min).arg(max));
    return d;
  }

  std::optional<double> number(const QJsonObject& o, const QString& key, const QString& where, double min, double max) {
    const std::optional<QJsonValue> v = required(o, key, where);
    if (!v) return std::nullopt;
    return number(*v, join(where, key), min, max);
  }

  // `fallback` when the key is absent.
  std::optional<double> numberOr(const QJsonObject& o, const QString& key, const QString& where, double min, double max,
                                 double fallback) {
    return o.contains(key) ? number(o, key, where, min, max) : fallback;
  }

  std::optional<int> integer(const QJsonObject& o, const QString& key, const QString& where, int min, int max) {
    const std::optional<double> d = number(o, key, where, min, max);
    if (!d) return std::nullopt;
    if (*d != std::floor(*d)) return fail(join(where, key), QStringLiteral("must be a whole number"));
    return int(*d);
  }

  std::optional<int> integerOr(const QJsonObject& o, const QString& key, const QString& where, int min, int max,
                               int fallback) {
    return o.contains(key) ? integer(o, key, where, min, max) : fallback;
  }

  std::optional<QPointF> point(const QJsonValue& v, const QString& where) {
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != 2) return fail(where, QStringLiteral("must be [x, y]"));
    const std::optional<double> x = number(a[0], where + QStringLiteral("[0]"), -1e5, 1e5);
    if (!x) return std::nullopt;
    const std::optional<double> y = number(a[1], where + QStringLiteral("[1]"), -1e5, 1e5);
    if (!y) return std::nullopt;
    return QPointF(*x, *y);
  }

  // Colours are SVG names, "#RGB", "#RRGGBB" or "#RRGGBBAA" (alpha last, as in CSS). An absent
  // colour is an invalid QColor.
  std::optional<QColor> color(const QJsonValue& v, const QString& where) {
    if (v.isNull() || v.isUndefined()) return QColor();
    const QString name = v.toString();
    if (!v.isString() || !QColor::isValidColorName(name))
      return fail(where, QStringLiteral("\"%1\" is not a colour").arg(v.toVariant().toString()));
    if (name.size() == 9 && name.startsWith(QLatin1Char('#'))) {
      QColor c = QColor::fromString(QStringView(name).left(7));
      c.setAlpha(QStringView(name).mid(7).toInt(nullptr, 16));
      return c;
    }
    return QColor::fromString(name);
  }

  bool parseVoice(const QJsonObject& o) {
    const std::optional<QString> name = text(o, QStringLiteral("name"), QStringLiteral("voice"));
    if (!name) return false;
    if (name->isEmpty()) return fail(QStringLiteral("voice.name"), QStringLiteral("must not be empty"));
    m_def.voice.name = *name;
    // A voice this machine cannot give is no reason to lose the character: it speaks with the
    // synthesiser's default voice, and the file's fault is kept for tools and logs.
    const VoiceChoice choice = resolveVoice(m_def.voice.name);
    if (!choice.problem.isEmpty()) m_def.warnings << QStringLiteral("voice.name: ") + choice.problem;
    if (!assign(integer(o, QStringLiteral("rate"), QStringLiteral("voice"), 80, 450), m_def.voice.rate)) return false;
    if (!assign(integer(o, QStringLiteral("pitch"), QStringLiteral("voice"), 0, 100), m_def.voice.pitch)) return false;
    // Files written before the formants could be placed speak with the voice's own.
    if (!assign(integerOr(o, QStringLiteral("formants"), QStringLiteral("voice"), 80, 120, 100), m_def.voice.formants))
      return false;
    return true;
  }

  // Reads `count` numbers of `e` (named `where`[k]) into `n`: the first two anywhere on the
  // drawing, the rest lengths.
  bool lengths(const QJsonArray& e, qsizetype count, const QString& where, double* n) {
    for (qsizetype k = 0; k < count; ++k) {
      const std::optional<double> d = number(e[k], where + QStringLiteral("[%1]").arg(k), k < 2 ? -1e5 : 0, 1e5);
      if (!d) return false;
      n[k] = *d;
    }
    return true;
  }

  std::optional<std::vector<Shape>> shapes(const QJsonValue& v, const QString& where) {
    if (!v.isArray()) return fail(where, QStringLiteral("must be an array of shapes"));
    std::vector<Shape> out;
    const QJsonArray a = v.toArray();
    for (qsizetype i = 0; i < a.size(); ++i) {
      const QString w = QStringLiteral("%1[%2]").arg(where).arg(i);
      if (!a[i].isObject()) return fail(w, QStringLiteral("must be an object"));
      const QJsonObject s = a[i].toObject();
      Shape shape;
      int geometries = 0;
      if (s.contains(QLatin1String("path"))) {
        ++geometries;
        const std::optional<QString> data = text(s, QStringLiteral("path"), w);
        if (!data) return std::nullopt;
        QString error;
        // A path that would go past the outline points left stops early and is refused below.
        const int room = Limits::kMaxOutlinePoints - m_outlinePoints;
        if (!parsePathData(*data, shape.path, error, room) && shape.path.elementCount() <= room)
          return fail(w + QStringLiteral(".path"), error);
      }
      if (s.contains(QLatin1String("ellipse"))) {
        ++geometries;
        const QJsonArray e = s.value(QLatin1String("ellipse")).toArray();
        if (e.size() != 4) return fail(w + QStringLiteral(".ellipse"), QStringLiteral("must be [cx, cy, rx, ry]"));
        double n[4];
        if (!lengths(e, 4, w + QStringLiteral(".ellipse"), n)) return std::nullopt;
        shape.path.addEllipse(QPointF(n[0], n[1]), n[2], n[3]);
      }
      if (s.contains(QLatin1String("rect"))) {
        ++geometries;
        const QJsonArray e = s.value(QLatin1String("rect")).toArray();
        if (e.size() != 4 && e.size() != 5)
          return fail(w + QStringLiteral(".rect"),
                      QStringLiteral("must be [x, y, width, height] or [x, y, width, height, corner radius]"));
        double n[5] = {0, 0, 0, 0, 0};
        if (!lengths(e, e.size(), w + QStringLiteral(".rect"), n)) return std::nullopt;
        shape.path.addRoundedRect(QRectF(n[0], n[1], n[2], n[3]), n[4], n[4]);
      }
      if (geometries != 1) return fail(w, QStringLiteral("needs exactly one of path, ellipse, rect"));
      m_outlinePoints += shape.path.elementCount();
      if (m_outlinePoints > Limits::kMaxOutlinePoints)
        return overLimit(w, m_outlinePoints, QStringLiteral("outline points in the shapes so far"),
                         Limits::kMaxOutlinePoints);
      if (!assign(color(s.value(QLatin1String("fill")), w + QStringLiteral(".fill")), shape.fill)) return std::nullopt;
      if (s.contains(QLatin1String("gradient"))) {
        const QJsonArray g = s.value(QLatin1String("gradient")).toArray();
        if (g.size() != 3 || !shape.fill.isValid())
          return fail(w + QStringLiteral(".gradient"),
                      QStringLiteral("must be [[x1, y1], [x2, y2], second colour] with a fill"));
        const std::optional<QPointF> from = point(g[0], w + QStringLiteral(".gradient[0]"));
        if (!from) return std::nullopt;
        const std::optional<QPointF> to = point(g[1], w + QStringLiteral(".gradient[1]"));
        if (!to) return std::nullopt;
        const std::optional<QColor> fill2 = color(g[2], w + QStringLiteral(".gradient[2]"));
        if (!fill2) return std::nullopt;
        shape.gradientFrom = *from;
        shape.gradientTo = *to;
        shape.fill2 = *fill2;
      }
      if (!assign(color(s.value(QLatin1String("stroke")), w + QStringLiteral(".stroke")), shape.stroke))
        return std::nullopt;
      if (shape.stroke.isValid()) {
        if (!assign(numberOr(s, QStringLiteral("width"), w, 0, 100, 1), shape.strokeWidth)) return std::nullopt;
      }
      if (!shape.fill.isValid() && !shape.stroke.isValid())
        return fail(w, QStringLiteral("has neither fill nor stroke"));
      out.push_back(std::move(shape));
    }
    return out;
  }

  bool parseParts(const QJsonArray& parts) {
    if (parts.isEmpty()) return fail(QStringLiteral("parts"), QStringLiteral("a character needs at least one part"));
    if (parts.size() > Limits::kMaxParts)
      return overLimit(QStringLiteral("parts"), parts.size(), QStringLiteral("parts"), Limits::kMaxParts);
    std::vector<QString> parents;
    for (qsizetype i = 0; i < parts.size(); ++i) {
      const QString w = QStringLiteral("parts[%1]").arg(i);
      if (!parts[i].isObject()) return fail(w, QStringLiteral("must be an object"));
      const QJsonObject o = parts[i].toObject();
      Part part;
      if (!assign(text(o, QStringLiteral("id"), w), part.id)) return false;
      if (part.id.isEmpty()) return fail(w + QStringLiteral(".id"), QStringLiteral("must not be empty"));
      if (m_partIndex.contains(part.id))
        return fail(w + QStringLiteral(".id"), QStringLiteral("part \"%1\" is defined twice").arg(part.id));
      if (o.contains(QLatin1String("pivot"))) {
        if (!assign(point(o.value(QLatin1String("pivot")), w + QStringLiteral(".pivot")), part.pivot)) return false;
      }
      if (!assign(numberOr(o, QStringLiteral("z"), w, -1e4, 1e4, 0), part.z)) return false;
      part.variantNames.push_back(QString());
      std::optional<std::vector<Shape>> own = std::vector<Shape>();
      if (o.contains(QLatin1String("shapes")))
        own = shapes(o.value(QLatin1String("shapes")), w + QStringLiteral(".shapes"));
      if (!own) return false;
      part.variants.push_back(std::move(*own));
      if (o.contains(QLatin1String("variants"))) {
        const std::optional<QJsonObject> vars = object(o, QStringLiteral("variants"), w);
        if (!vars) return false;
        if (vars->size() > Limits::kMaxVariantsPerPart)
          return overLimit(w + QStringLiteral(".variants"), vars->size(), QStringLiteral("variants"),
                           Limits::kMaxVariantsPerPart);
        for (auto it = vars->begin(); it != vars->end(); ++it) {
          std::optional<std::vector<Shape>> variant = shapes(it.value(), w + QStringLiteral(".variants.") + it.key());
          if (!variant) return false;
          part.variantNames.push_back(it.key());
          part.variants.push_back(std::move(*variant));
        }
      }
      parents.push_back(o.value(QLatin1String("parent")).toString());
      m_hidden.push_back(o.value(QLatin1String("hidden")).toBool(false));
      m_partIndex.insert(part.id, int(m_def.parts.size()));
      m_def.parts.push_back(std::move(part));
    }
    for (size_t i = 0; i < parents.size(); ++i) {
      if (parents[i].isEmpty()) continue;
      const int p = partIndex(parents[i]);
      if (p < 0)
        return fail(QStringLiteral("parts[%1].parent").arg(i), QStringLiteral("no part named \"%1\"").arg(parents[i]));
      m_def.parts[i].parent = p;
    }
    for (size_t i = 0; i < m_def.parts.size(); ++i) {
      int p = m_def.parts[i].parent;
      for (size_t steps = 0; p >= 0; ++steps, p = m_def.parts[size_t(p)].parent)
        if (steps > m_def.parts.size())
          return fail(QStringLiteral("parts[%1].parent").arg(i), QStringLiteral("parts form a loop"));
    }
    return true;
  }

  bool parseMouth(const QJsonObject& o) {
    const std::optional<QString> partId = text(o, QStringLiteral("part"), QStringLiteral("mouth"));
    if (!partId) return false;
    m_def.mouthPart = partIndex(*partId);
    if (m_def.mouthPart < 0)
      return fail(QStringLiteral("mouth.part"), QStringLiteral("no part named \"%1\"").arg(*partId));
    const Part& part = m_def.parts[size_t(m_def.mouthPart)];
    const std::optional<QJsonObject> shapesObj = object(o, QStringLiteral("shapes"), QStringLiteral("mouth"));
    if (!shapesObj) return false;
    QSet<int> distinct;
    for (int s = 0; s < kMouthShapeCount; ++s) {
      const QString shapeName = mouthShapeName(MouthShape(s));
      const std::optional<QString> variant = text(*shapesObj, shapeName, QStringLiteral("mouth.shapes"));
      if (!variant) return false;
      const auto it = std::find(part.variantNames.begin(), part.variantNames.end(), *variant);
      if (it == part.variantNames.end())
        return fail(QStringLiteral("mouth.shapes.") + shapeName,
                    QStringLiteral("part \"%1\" has no variant \"%2\"").arg(*partId, *variant));
      m_def.mouthVariants[size_t(s)] = int(it - part.variantNames.begin());
      distinct.insert(m_def.mouthVariants[size_t(s)]);
    }
    if (distinct.size() < 4)
      return fail(QStringLiteral("mouth.shapes"),
                  QStringLiteral("lip-sync needs at least four different mouth shapes"));
    return true;
  }

  bool applyState(Pose& pose, const QJsonObject& parts, const QString& where) {
    for (auto it = parts.begin(); it != parts.end(); ++it) {
      const QString w = join(where, it.key());
      const int p = partIndex(it.key());
      if (p < 0) return fail(w, QStringLiteral("no part named \"%1\"").arg(it.key()));
      if (!it.value().isObject()) return fail(w, QStringLiteral("must be an object"));
      const QJsonObject s = it.value().toObject();
      PartState& st = pose[size_t(p)];
      for (auto f = s.begin(); f != s.end(); ++f) {
        const QString key = f.key();
        const QString fw = join(w, key);
        // The number properties: where each goes and its bounds.
        struct Bounded {
          const char* key;
          double PartState::*field;
          double min, max;
        };
        static constexpr Bounded kNumbers[] = {
            {"rotate", &PartState::rotate, -3600, 3600}, {"dx", &PartState::dx, -1e4, 1e4},
            {"dy", &PartState::dy, -1e4, 1e4},           {"sx", &PartState::sx, -100, 100},
            {"sy", &PartState::sy, -100, 100},           {"opacity", &PartState::opacity, 0, 1},
        };
        const auto bounded = std::find_if(std::begin(kNumbers), std::end(kNumbers),
                                          [&](const Bounded& b) { return key == QLatin1String(b.key); });
        if (bounded != std::end(kNumbers)) {
          const std::optional<double> d = number(f.value(), fw, bounded->min, bounded->max);
          if (!d) return false;
          st.*(bounded->field) = *d;
        } else if (key == QLatin1String("variant")) {
          const Part& part = m_def.parts[size_t(p)];
          const QString name = f.value().toString();
          const auto v = std::find(part.variantNames.begin(), part.variantNames.end(), name);
          if (!f.value().isString() || v == part.variantNames.end())
            return fail(fw, QStringLiteral("part \"%1\" has no variant \"%2\"").arg(part.id, name));
          st.variant = int(v - part.variantNames.begin());
        } else {
          return fail(fw, QStringLiteral("unknown property (use rotate, dx, dy, sx, sy, opacity, variant)"));
        }
      }
    }
    return true;
  }

  bool parsePoses(const QJsonObject& poses) {
    if (poses.size() > Limits::kMaxPoses)
      return overLimit(QStringLiteral("poses"), poses.size(), QStringLiteral("poses"), Limits::kMaxPoses);
    if (!addPartStates(QStringLiteral("poses"), poses.size())) return false;
    // A pose may build on another ("base"), which may build on a third, and so on. Each chain is
    // resolved from its foot up: `chain` holds the poses waiting for their base, each the base of
    // the one below it, so that a long chain costs no stack.
    std::vector<QString> chain;
    QSet<QString> inChain;
    const auto wait = [&](const QString& name) -> bool {
      const QString w = QStringLiteral("poses.") + name;
      if (!poses.contains(name)) return fail(w, QStringLiteral("no such pose"));
      if (inChain.contains(name)) return fail(w, QStringLiteral("poses build on each other in a loop"));
      if (!poses.value(name).isObject()) return fail(w, QStringLiteral("must be an object"));
      chain.push_back(name);
      inChain.insert(name);
      return true;
    };
    for (auto it = poses.begin(); it != poses.end(); ++it) {
      if (m_poses.contains(it.key())) continue;
      if (!wait(it.key())) return false;
      while (!chain.empty()) {
        const QString name = chain.back();
        QJsonObject o = poses.value(name).toObject();
        Pose pose = m_def.rest;
        if (o.contains(QLatin1String("base"))) {
          const QString base = o.value(QLatin1String("base")).toString();
          if (!m_poses.contains(base)) {
            if (!wait(base)) return false;
            continue;
          }
          pose = m_poses.value(base);
          o.remove(QLatin1String("base"));
        }
        if (!applyState(pose, o, QStringLiteral("poses.") + name)) return false;
        m_poses.insert(name, pose);
        chain.pop_back();
        inChain.remove(name);
      }
    }
    return true;
  }

  std::optional<SoundLayer> soundLayer(const QJsonObject& l, const QString& lw) {
    SoundLayer layer;
    const std::optional<QString> wave = text(l, QStringLiteral("wave"), lw);
    if (!wave) return std::nullopt;
    if (*wave == QLatin1String("noise"))
      layer.wave = SoundLayer::Noise;
    else if (*wave == QLatin1String("sine"))
      layer.wave = SoundLayer::Sine;
    else if (*wave == QLatin1String("square"))
      layer.wave = SoundLayer::Square;
    else if (*wave == QLatin1String("saw"))
      layer.wave = SoundLayer::Saw;
    else
      return fail(lw + QStringLiteral(".wave"), QStringLiteral("must be noise, sine, square or saw"));
    if (l.contains(QLatin1String("freq"))) {
      const std::optional<QPointF> f = point(l.value(QLatin1String("freq")), lw + QStringLiteral(".freq"));
      if (!f) return std::nullopt;
      layer.freqFrom = f->x();
      layer.freqTo = f->y();
    }
    if (!assign(numberOr(l, QStringLiteral("lowpassHz"), lw, 0, 20000, 0), layer.lowpassHz)) return std::nullopt;
    if (!assign(numberOr(l, QStringLiteral("gain"), lw, 0, 4, 0.5), layer.gain)) return std::nullopt;
    if (!assign(numberOr(l, QStringLiteral("tremoloHz"), lw, 0, 200, 0), layer.tremoloHz)) return std::nullopt;
    if (!assign(numberOr(l, QStringLiteral("tremoloDepth"), lw, 0, 1, 0), layer.tremoloDepth)) return std::nullopt;
    if (l.contains(QLatin1String("envelope"))) {
      const QJsonArray env = l.value(QLatin1String("envelope")).toArray();
      if (env.size() > Limits::kMaxEnvelopePoints)
        return overLimit(lw + QStringLiteral(".envelope"), env.size(), QStringLiteral("envelope points"),
                         Limits::kMaxEnvelopePoints);
      for (qsizetype k = 0; k < env.size(); ++k) {
        const std::optional<QPointF> p = point(env[k], lw + QStringLiteral(".envelope[%1]").arg(k));
        if (!p) return std::nullopt;
        if (p->x() < 0 || p->x() > 1 || p->y() < 0 || p->y() > 1 ||
            (!layer.envelope.empty() && p->x() < layer.envelope.back().first))
          return fail(lw + QStringLiteral(".envelope[%1]").arg(k),
                      QStringLiteral("points must be in 0..1 and in time order"));
        layer.envelope.emplace_back(p->x(), p->y());
      }
    }
    return layer;
  }

  bool parseSounds(const QJsonObject& sounds) {
    if (sounds.size() > Limits::kMaxSounds)
      return overLimit(QStringLiteral("sounds"), sounds.size(), QStringLiteral("sounds"), Limits::kMaxSounds);
    qint64 totalMs = 0;
    qint64 totalLayerMs = 0;
    for (auto it = sounds.begin(); it != sounds.end(); ++it) {
      const QString w = QStringLiteral("sounds.") + it.key();
      if (!it.value().isObject()) return fail(w, QStringLiteral("must be an object"));
      const QJsonObject o = it.value().toObject();
      const std::optional<int> duration = integer(o, QStringLiteral("durationMs"), w, 1, 10000);
      if (!duration) return false;
      totalMs += *duration;
      if (totalMs > Limits::kMaxSoundMs)
        return overLimit(w + QStringLiteral(".durationMs"), totalMs, QStringLiteral("ms of sound in all"),
                         Limits::kMaxSoundMs);
      std::vector<SoundLayer> layers;
      const std::optional<QJsonArray> arr = array(o, QStringLiteral("layers"), w);
      if (!arr) return false;
      totalLayerMs += *duration * arr->size();
      if (totalLayerMs > Limits::kMaxSoundLayerMs)
        return overLimit(w + QStringLiteral(".layers"), totalLayerMs,
                         QStringLiteral("ms of sound layers in all (length × layers)"), Limits::kMaxSoundLayerMs);
      for (qsizetype i = 0; i < arr->size(); ++i) {
        const QString lw = QStringLiteral("%1.layers[%2]").arg(w).arg(i);
        if (!(*arr)[i].isObject()) return fail(lw, QStringLiteral("must be an object"));
        const std::optional<SoundLayer> layer = soundLayer((*arr)[i].toObject(), lw);
        if (!layer) return false;
        layers.push_back(*layer);
      }
      SoundEffect effect;
      effect.name = it.key();
      effect.sampleRate = 22050;
      effect.pcm = synthesizeSound(*duration, effect.sampleRate, layers);
      m_def.sounds.push_back(std::move(effect));
    }
    return true;
  }

  std::optional<KeyFrame> frame(const QJsonObject& o, const QString& w) {
    KeyFrame f;
    f.pose = m_def.rest;
    if (o.contains(QLatin1String("pose"))) {
      const std::optional<QString> name = text(o, QStringLiteral("pose"), w);
      if (!name) return std::nullopt;
      if (!m_poses.contains(*name))
        return fail(w + QStringLiteral(".pose"), QStringLiteral("no pose named \"%1\"").arg(*name));
      f.pose = m_poses.value(*name);
    }
    if (o.contains(QLatin1String("set"))) {
      const std::optional<QJsonObject> set = object(o, QStringLiteral("set"), w);
      if (!set || !applyState(f.pose, *set, w + QStringLiteral(".set"))) return std::nullopt;
    }
    if (!assign(integer(o, QStringLiteral("duration"), w, 1, 60000), f.durationMs)) return std::nullopt;
    f.tween = o.value(QLatin1String("tween")).toBool(true);
    const QString ease = o.value(QLatin1String("ease")).toString(QStringLiteral("inout"));
    if (ease == QLatin1String("inout"))
      f.ease = Ease::InOut;
    else if (ease == QLatin1String("linear"))
      f.ease = Ease::Linear;
    else if (ease == QLatin1String("in"))
      f.ease = Ease::In;
    else if (ease == QLatin1String("out"))
      f.ease = Ease::Out;
    else
      return fail(w + QStringLiteral(".ease"), QStringLiteral("must be linear, inout, in or out"));
    if (o.contains(QLatin1String("sound"))) {
      const std::optional<QString> name = text(o, QStringLiteral("sound"), w);
      if (!name) return std::nullopt;
      const auto s =
          std::find_if(m_def.sounds.begin(), m_def.sounds.end(), [&](const SoundEffect& e) { return e.name == *name; });
      if (s == m_def.sounds.end())
        return fail(w + QStringLiteral(".sound"), QStringLiteral("no sound named \"%1\"").arg(*name));
      f.sound = int(s - m_def.sounds.begin());
    }
    return f;
  }

  bool parseAnimations(const QJsonObject& anims) {
    if (anims.isEmpty())
      return fail(QStringLiteral("animations"), QStringLiteral("a character needs at least one animation"));
    if (anims.size() > Limits::kMaxAnimations)
      return overLimit(QStringLiteral("animations"), anims.size(), QStringLiteral("animations"),
                       Limits::kMaxAnimations);
    for (auto it = anims.begin(); it != anims.end(); ++it) {
      const QString w = QStringLiteral("animations.") + it.key();
      if (m_def.findAnimation(it.key()))
        return fail(w, QStringLiteral("another animation has the same name in a different letter case"));
      if (!it.value().isObject()) return fail(w, QStringLiteral("must be an object"));
      const QJsonObject o = it.value().toObject();
      Animation a;
      a.name = it.key();
      a.loop = o.value(QLatin1String("loop")).toBool(false);
      if (!assign(integerOr(o, QStringLiteral("fps"), w, 1, 60, 0), a.fps)) return false;
      const std::optional<QJsonArray> frames = array(o, QStringLiteral("frames"), w);
      if (!frames) return false;
      if (frames->isEmpty())
        return fail(w + QStringLiteral(".frames"), QStringLiteral("an animation needs at least one frame"));
      if (frames->size() > Limits::kMaxFramesPerAnimation)
        return overLimit(w + QStringLiteral(".frames"), frames->size(), QStringLiteral("key frames"),
                         Limits::kMaxFramesPerAnimation);
      if (!addPartStates(w + QStringLiteral(".frames"), frames->size())) return false;
      for (qsizetype i = 0; i < frames->size(); ++i) {
        const QString fw = QStringLiteral("%1.frames[%2]").arg(w).arg(i);
        if (!(*frames)[i].isObject()) return fail(fw, QStringLiteral("must be an object"));
        std::optional<KeyFrame> f = frame((*frames)[i].toObject(), fw);
        if (!f) return false;
        a.frames.push_back(std::move(*f));
      }
      m_def.animations.push_back(std::move(a));
    }
    return true;
  }

  bool parseIdle(const QJsonObject& o) {
    IdleSettings& idle = m_def.idle;
    const std::optional<QJsonArray> variants = array(o, QStringLiteral("variants"), QStringLiteral("idle"));
    if (!variants) return false;
    if (variants->size() > Limits::kMaxIdleVariants)
      return overLimit(QStringLiteral("idle.variants"), variants->size(), QStringLiteral("entries"),
                       Limits::kMaxIdleVariants);
    for (qsizetype i = 0; i < variants->size(); ++i) {
      const QString name = (*variants)[i].toString();
      if (!m_def.findAnimation(name))
        return fail(QStringLiteral("idle.variants[%1]").arg(i), QStringLiteral("no animation named \"%1\"").arg(name));
      idle.variants << name;
    }
    if (!assign(integer(o, QStringLiteral("minIntervalMs"), QStringLiteral("idle"), 500, 600000), idle.minIntervalMs))
      return false;
    if (!assign(integer(o, QStringLiteral("maxIntervalMs"), QStringLiteral("idle"), idle.minIntervalMs, 600000),
                idle.maxIntervalMs))
      return false;
    if (o.contains(QLatin1String("sleep"))) {
      if (!assign(text(o, QStringLiteral("sleep"), QStringLiteral("idle")), idle.sleep)) return false;
      const Animation* a = m_def.findAnimation(idle.sleep);
      if (!a) return fail(QStringLiteral("idle.sleep"), QStringLiteral("no animation named \"%1\"").arg(idle.sleep));
      if (!a->loop) return fail(QStringLiteral("idle.sleep"), QStringLiteral("the sleep animation must loop"));
      if (!assign(integer(o, QStringLiteral("sleepAfterMs"), QStringLiteral("idle"), 1000, 3600000), idle.sleepAfterMs))
        return false;
    }
    return true;
  }

  int partIndex(const QString& id) const { return m_partIndex.value(id, -1); }

  // The rest pose, each named pose and each key frame hold a state for every part.
  bool addPartStates(const QString& where, qint64 poses) {
    m_partStates += poses * qint64(m_def.parts.size());
    if (m_partStates > Limits::kMaxPartStates)
      return overLimit(where, m_partStates, QStringLiteral("part states in all (parts × (1 + poses + key frames))"),
                       Limits::kMaxPartStates);
    return true;
  }

  CharacterDefinition& m_def;
  std::optional<Fault> m_fault;
  std::vector<bool> m_hidden;
  QHash<QString, int> m_partIndex;
  QHash<QString, Pose> m_poses;
  int m_outlinePoints = 0;
  qint64 m_partStates = 0;
};

int lineOf(const QByteArray& contents, int offset) { return int(contents.left(offset).count('\n')) + 1; }

QString tooLarge(qint64 bytes) {
  return QStringLiteral("too large to be a character file (%1 bytes; the limit is %2)")
      .arg(bytes)
      .arg(Limits::kMaxFileBytes);
}

Failure damaged(const QString& message) { return {FailureKind::Damaged, message}; }

}  // namespace

LoadResult parseCharacter(const QByteArray& contents, const QString& fileName) {
  if (contents.size() > Limits::kMaxFileBytes)
    return damaged(fileName + QStringLiteral(": ") + tooLarge(contents.size()));
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(contents, &parseError);
  if (parseError.error != QJsonParseError::NoError)
    return damaged(QStringLiteral("%1: line %2: not valid JSON: %3")
                       .arg(fileName)
                       .arg(lineOf(contents, parseError.offset))
                       .arg(parseError.errorString()));
  if (!doc.isObject())
    return damaged(QStringLiteral("%1: not a character file (the top level must be a JSON object)").arg(fileName));
  auto def = std::make_shared<CharacterDefinition>();
  if (const std::optional<Fault> f = Parser(*def).parse(doc.object()))
    return damaged(QStringLiteral("%1: %2: %3").arg(fileName, f->where, f->what));
  return std::shared_ptr<const CharacterDefinition>(std::move(def));
}

LoadResult loadCharacterFile(const QString& path) {
  const auto fail = [&](const QString& what) {
    return Failure{FailureKind::Unreadable, path + QStringLiteral(": ") + what};
  };
  // Only a regular file is read: a pipe could hold the program up for good and a device could
  // go on for ever. It is looked at before it is opened, so that no device is opened at all, and
  // again once open in case it was swapped in between; O_NONBLOCK keeps a pipe from holding up
  // the open itself.
  const QByteArray name = QFile::encodeName(path);
  struct stat st {};
  if (::stat(name.constData(), &st) != 0) return fail(QStringLiteral("cannot be read: ") + qt_error_string(errno));
  if (!S_ISREG(st.st_mode)) return fail(QStringLiteral("cannot be read: not a regular file"));
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(QStringLiteral("cannot be read: ") + qt_error_string(errno));
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return fail(QStringLiteral("cannot be read: ") + file.errorString());
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail(QStringLiteral("cannot be read: not a regular file"));
  // Refused before it is read, and read no further than the limit, should it grow meanwhile or
  // not know its size (as files under /proc).
  if (st.st_size > Limits::kMaxFileBytes) return damaged(path + QStringLiteral(": ") + tooLarge(st.st_size));
  const QByteArray contents = file.read(Limits::kMaxFileBytes + 1);
  if (file.error() != QFileDevice::NoError) return fail(QStringLiteral("cannot be read: ") + file.errorString());
  if (contents.size() > Limits::kMaxFileBytes)
    return damaged(path + QStringLiteral(": too large to be a character file (more than the limit of %1 bytes)")
                              .arg(Limits::kMaxFileBytes));
  LoadResult r = parseCharacter(contents, path);
  if (r) std::const_pointer_cast<CharacterDefinition>(r.value())->path = path;
  return r;
}

}  // namespace agent
