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
#include <stdexcept>
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

// Thrown inside the parser and turned into LoadResult::error at the top.
struct Fault : std::runtime_error {
  Fault(const QString& where, const QString& what) : std::runtime_error("fault"), where(where), what_(what) {}
  QString where;
  QString what_;
};

using Limits = CharacterLimits;

// The file asks for more than any character may have.
Fault overLimit(const QString& where, qint64 count, const QString& what, qint64 limit) {
  return Fault(where, QStringLiteral("%1 %2; the limit is %3").arg(count).arg(what).arg(limit));
}

class Parser {
 public:
  explicit Parser(CharacterDefinition& def) : m_def(def) {}

  void parse(const QJsonObject& root) {
    const QString format = root.value(QLatin1String("format")).toString();
    if (format != QLatin1String("olm-chimewise-character"))
      throw Fault(QStringLiteral("format"),
                  QStringLiteral("not an Olm Chimewise character file (format must be \"olm-chimewise-character\")"));
    const int version = integer(root, QStringLiteral("version"), QString(), 1, 1000);
    if (version != 1)
      throw Fault(QStringLiteral("version"),
                  QStringLiteral("version %1 is not supported (this program reads version 1)").arg(version));
    m_def.name = text(root, QStringLiteral("name"), QString());
    if (m_def.name.trimmed().isEmpty()) throw Fault(QStringLiteral("name"), QStringLiteral("must not be empty"));
    m_def.description = root.value(QLatin1String("description")).toString();
    m_def.width = integer(root, QStringLiteral("width"), QString(), 16, 2048);
    m_def.height = integer(root, QStringLiteral("height"), QString(), 16, 2048);
    if (root.contains(QLatin1String("origin")))
      m_def.origin = point(root.value(QLatin1String("origin")), QStringLiteral("origin"));
    m_def.fps = root.contains(QLatin1String("fps")) ? integer(root, QStringLiteral("fps"), QString(), 1, 60) : 20;
    parseVoice(object(root, QStringLiteral("voice"), QString()));
    parseParts(array(root, QStringLiteral("parts"), QString()));
    parseMouth(object(root, QStringLiteral("mouth"), QString()));
    m_def.rest = Pose(m_def.parts.size());
    addPartStates(QStringLiteral("parts"), 1);
    for (size_t i = 0; i < m_def.parts.size(); ++i) m_def.rest[i].opacity = m_hidden[i] ? 0 : 1;
    if (root.contains(QLatin1String("sounds"))) parseSounds(object(root, QStringLiteral("sounds"), QString()));
    if (root.contains(QLatin1String("poses"))) parsePoses(object(root, QStringLiteral("poses"), QString()));
    parseAnimations(object(root, QStringLiteral("animations"), QString()));
    if (root.contains(QLatin1String("idle"))) parseIdle(object(root, QStringLiteral("idle"), QString()));
  }

 private:
  static QString join(const QString& where, const QString& key) {
    return where.isEmpty() ? key : where + QLatin1Char('.') + key;
  }

  static QJsonValue required(const QJsonObject& o, const QString& key, const QString& where) {
    if (!o.contains(key)) throw Fault(join(where, key), QStringLiteral("missing"));
    return o.value(key);
  }

  static QJsonObject object(const QJsonObject& o, const QString& key, const QString& where) {
    const QJsonValue v = required(o, key, where);
    if (!v.isObject()) throw Fault(join(where, key), QStringLiteral("must be an object"));
    return v.toObject();
  }

  static QJsonArray array(const QJsonObject& o, const QString& key, const QString& where) {
    const QJsonValue v = required(o, key, where);
    if (!v.isArray()) throw Fault(join(where, key), QStringLiteral("must be an array"));
    return v.toArray();
  }

  static QString text(const QJsonObject& o, const QString& key, const QString& where) {
    const QJsonValue v = required(o, key, where);
    if (!v.isString()) throw Fault(join(where, key), QStringLiteral("must be a string"));
    return v.toString();
  }

  static double number(const QJsonValue& v, const QString& where, double min, double max) {
    if (!v.isDouble() || !std::isfinite(v.toDouble())) throw Fault(where, QStringLiteral("must be a number"));
    const double d = v.toDouble();
    if (d < min || d > max) throw Fault(where, QStringLiteral("%1 is outside %2 to %3").arg(d).arg(min).arg(max));
    return d;
  }

  static double number(const QJsonObject& o, const QString& key, const QString& where, double min, double max) {
    return number(required(o, key, where), join(where, key), min, max);
  }

  static int integer(const QJsonObject& o, const QString& key, const QString& where, int min, int max) {
    const double d = number(o, key, where, min, max);
    if (d != std::floor(d)) throw Fault(join(where, key), QStringLiteral("must be a whole number"));
    return int(d);
  }

  static QPointF point(const QJsonValue& v, const QString& where) {
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != 2) throw Fault(where, QStringLiteral("must be [x, y]"));
    return {number(a[0], where + QStringLiteral("[0]"), -1e5, 1e5),
            number(a[1], where + QStringLiteral("[1]"), -1e5, 1e5)};
  }

  // Colours are SVG names, "#RGB", "#RRGGBB" or "#RRGGBBAA" (alpha last, as in CSS).
  static QColor color(const QJsonValue& v, const QString& where) {
    if (v.isNull() || v.isUndefined()) return {};
    const QString name = v.toString();
    if (!v.isString() || !QColor::isValidColorName(name))
      throw Fault(where, QStringLiteral("\"%1\" is not a colour").arg(v.toVariant().toString()));
    if (name.size() == 9 && name.startsWith(QLatin1Char('#'))) {
      QColor c = QColor::fromString(QStringView(name).left(7));
      c.setAlpha(QStringView(name).mid(7).toInt(nullptr, 16));
      return c;
    }
    return QColor::fromString(name);
  }

  void parseVoice(const QJsonObject& o) {
    m_def.voice.name = text(o, QStringLiteral("name"), QStringLiteral("voice"));
    if (m_def.voice.name.isEmpty()) throw Fault(QStringLiteral("voice.name"), QStringLiteral("must not be empty"));
    // A voice this machine cannot give is no reason to lose the character: it speaks with the
    // synthesiser's default voice, and the file's fault is kept for tools and logs.
    const VoiceChoice choice = resolveVoice(m_def.voice.name);
    if (!choice.problem.isEmpty()) m_def.warnings << QStringLiteral("voice.name: ") + choice.problem;
    m_def.voice.rate = integer(o, QStringLiteral("rate"), QStringLiteral("voice"), 80, 450);
    m_def.voice.pitch = integer(o, QStringLiteral("pitch"), QStringLiteral("voice"), 0, 100);
    // Files written before the formants could be placed speak with the voice's own.
    m_def.voice.formants = o.contains(QLatin1String("formants"))
                               ? integer(o, QStringLiteral("formants"), QStringLiteral("voice"), 80, 120)
                               : 100;
  }

  std::vector<Shape> shapes(const QJsonValue& v, const QString& where) {
    if (!v.isArray()) throw Fault(where, QStringLiteral("must be an array of shapes"));
    std::vector<Shape> out;
    const QJsonArray a = v.toArray();
    for (qsizetype i = 0; i < a.size(); ++i) {
      const QString w = QStringLiteral("%1[%2]").arg(where).arg(i);
      if (!a[i].isObject()) throw Fault(w, QStringLiteral("must be an object"));
      const QJsonObject s = a[i].toObject();
      Shape shape;
      int geometries = 0;
      if (s.contains(QLatin1String("path"))) {
        ++geometries;
        QString error;
        // A path that would go past the outline points left stops early and is refused below.
        const int room = Limits::kMaxOutlinePoints - m_outlinePoints;
        if (!parsePathData(text(s, QStringLiteral("path"), w), shape.path, error, room) &&
            shape.path.elementCount() <= room)
          throw Fault(w + QStringLiteral(".path"), error);
      }
      if (s.contains(QLatin1String("ellipse"))) {
        ++geometries;
        const QJsonArray e = s.value(QLatin1String("ellipse")).toArray();
        if (e.size() != 4) throw Fault(w + QStringLiteral(".ellipse"), QStringLiteral("must be [cx, cy, rx, ry]"));
        double n[4];
        for (int k = 0; k < 4; ++k)
          n[k] = number(e[k], w + QStringLiteral(".ellipse[%1]").arg(k), k < 2 ? -1e5 : 0, 1e5);
        shape.path.addEllipse(QPointF(n[0], n[1]), n[2], n[3]);
      }
      if (s.contains(QLatin1String("rect"))) {
        ++geometries;
        const QJsonArray e = s.value(QLatin1String("rect")).toArray();
        if (e.size() != 4 && e.size() != 5)
          throw Fault(w + QStringLiteral(".rect"),
                      QStringLiteral("must be [x, y, width, height] or [x, y, width, height, corner radius]"));
        double n[5] = {0, 0, 0, 0, 0};
        for (int k = 0; k < e.size(); ++k)
          n[k] = number(e[k], w + QStringLiteral(".rect[%1]").arg(k), k < 2 ? -1e5 : 0, 1e5);
        shape.path.addRoundedRect(QRectF(n[0], n[1], n[2], n[3]), n[4], n[4]);
      }
      if (geometries != 1) throw Fault(w, QStringLiteral("needs exactly one of path, ellipse, rect"));
      m_outlinePoints += shape.path.elementCount();
      if (m_outlinePoints > Limits::kMaxOutlinePoints)
        throw overLimit(w, m_outlinePoints, QStringLiteral("outline points in the shapes so far"),
                        Limits::kMaxOutlinePoints);
      shape.fill = color(s.value(QLatin1String("fill")), w + QStringLiteral(".fill"));
      if (s.contains(QLatin1String("gradient"))) {
        const QJsonArray g = s.value(QLatin1String("gradient")).toArray();
        if (g.size() != 3 || !shape.fill.isValid())
          throw Fault(w + QStringLiteral(".gradient"),
                      QStringLiteral("must be [[x1, y1], [x2, y2], second colour] with a fill"));
        shape.gradientFrom = point(g[0], w + QStringLiteral(".gradient[0]"));
        shape.gradientTo = point(g[1], w + QStringLiteral(".gradient[1]"));
        shape.fill2 = color(g[2], w + QStringLiteral(".gradient[2]"));
      }
      shape.stroke = color(s.value(QLatin1String("stroke")), w + QStringLiteral(".stroke"));
      if (shape.stroke.isValid())
        shape.strokeWidth = s.contains(QLatin1String("width")) ? number(s, QStringLiteral("width"), w, 0, 100) : 1;
      if (!shape.fill.isValid() && !shape.stroke.isValid())
        throw Fault(w, QStringLiteral("has neither fill nor stroke"));
      out.push_back(std::move(shape));
    }
    return out;
  }

  void parseParts(const QJsonArray& parts) {
    if (parts.isEmpty()) throw Fault(QStringLiteral("parts"), QStringLiteral("a character needs at least one part"));
    if (parts.size() > Limits::kMaxParts)
      throw overLimit(QStringLiteral("parts"), parts.size(), QStringLiteral("parts"), Limits::kMaxParts);
    std::vector<QString> parents;
    for (qsizetype i = 0; i < parts.size(); ++i) {
      const QString w = QStringLiteral("parts[%1]").arg(i);
      if (!parts[i].isObject()) throw Fault(w, QStringLiteral("must be an object"));
      const QJsonObject o = parts[i].toObject();
      Part part;
      part.id = text(o, QStringLiteral("id"), w);
      if (part.id.isEmpty()) throw Fault(w + QStringLiteral(".id"), QStringLiteral("must not be empty"));
      if (m_partIndex.contains(part.id))
        throw Fault(w + QStringLiteral(".id"), QStringLiteral("part \"%1\" is defined twice").arg(part.id));
      part.pivot = o.contains(QLatin1String("pivot"))
                       ? point(o.value(QLatin1String("pivot")), w + QStringLiteral(".pivot"))
                       : QPointF();
      part.z = o.contains(QLatin1String("z")) ? number(o, QStringLiteral("z"), w, -1e4, 1e4) : 0;
      part.variantNames.push_back(QString());
      part.variants.push_back(o.contains(QLatin1String("shapes"))
                                  ? shapes(o.value(QLatin1String("shapes")), w + QStringLiteral(".shapes"))
                                  : std::vector<Shape>());
      if (o.contains(QLatin1String("variants"))) {
        const QJsonObject vars = object(o, QStringLiteral("variants"), w);
        if (vars.size() > Limits::kMaxVariantsPerPart)
          throw overLimit(w + QStringLiteral(".variants"), vars.size(), QStringLiteral("variants"),
                          Limits::kMaxVariantsPerPart);
        for (auto it = vars.begin(); it != vars.end(); ++it) {
          part.variantNames.push_back(it.key());
          part.variants.push_back(shapes(it.value(), w + QStringLiteral(".variants.") + it.key()));
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
        throw Fault(QStringLiteral("parts[%1].parent").arg(i), QStringLiteral("no part named \"%1\"").arg(parents[i]));
      m_def.parts[i].parent = p;
    }
    for (size_t i = 0; i < m_def.parts.size(); ++i) {
      int p = m_def.parts[i].parent;
      for (size_t steps = 0; p >= 0; ++steps, p = m_def.parts[size_t(p)].parent)
        if (steps > m_def.parts.size())
          throw Fault(QStringLiteral("parts[%1].parent").arg(i), QStringLiteral("parts form a loop"));
    }
  }

  void parseMouth(const QJsonObject& o) {
    const QString partId = text(o, QStringLiteral("part"), QStringLiteral("mouth"));
    m_def.mouthPart = partIndex(partId);
    if (m_def.mouthPart < 0)
      throw Fault(QStringLiteral("mouth.part"), QStringLiteral("no part named \"%1\"").arg(partId));
    const Part& part = m_def.parts[size_t(m_def.mouthPart)];
    const QJsonObject shapesObj = object(o, QStringLiteral("shapes"), QStringLiteral("mouth"));
    QSet<int> distinct;
    for (int s = 0; s < kMouthShapeCount; ++s) {
      const QString shapeName = mouthShapeName(MouthShape(s));
      const QString variant = text(shapesObj, shapeName, QStringLiteral("mouth.shapes"));
      const auto it = std::find(part.variantNames.begin(), part.variantNames.end(), variant);
      if (it == part.variantNames.end())
        throw Fault(QStringLiteral("mouth.shapes.") + shapeName,
                    QStringLiteral("part \"%1\" has no variant \"%2\"").arg(partId, variant));
      m_def.mouthVariants[size_t(s)] = int(it - part.variantNames.begin());
      distinct.insert(m_def.mouthVariants[size_t(s)]);
    }
    if (distinct.size() < 4)
      throw Fault(QStringLiteral("mouth.shapes"),
                  QStringLiteral("lip-sync needs at least four different mouth shapes"));
  }

  void applyState(Pose& pose, const QJsonObject& parts, const QString& where) {
    for (auto it = parts.begin(); it != parts.end(); ++it) {
      const QString w = join(where, it.key());
      const int p = partIndex(it.key());
      if (p < 0) throw Fault(w, QStringLiteral("no part named \"%1\"").arg(it.key()));
      if (!it.value().isObject()) throw Fault(w, QStringLiteral("must be an object"));
      const QJsonObject s = it.value().toObject();
      PartState& st = pose[size_t(p)];
      for (auto f = s.begin(); f != s.end(); ++f) {
        const QString key = f.key();
        const QString fw = join(w, key);
        if (key == QLatin1String("rotate"))
          st.rotate = number(f.value(), fw, -3600, 3600);
        else if (key == QLatin1String("dx"))
          st.dx = number(f.value(), fw, -1e4, 1e4);
        else if (key == QLatin1String("dy"))
          st.dy = number(f.value(), fw, -1e4, 1e4);
        else if (key == QLatin1String("sx"))
          st.sx = number(f.value(), fw, -100, 100);
        else if (key == QLatin1String("sy"))
          st.sy = number(f.value(), fw, -100, 100);
        else if (key == QLatin1String("opacity"))
          st.opacity = number(f.value(), fw, 0, 1);
        else if (key == QLatin1String("variant")) {
          const Part& part = m_def.parts[size_t(p)];
          const QString name = f.value().toString();
          const auto v = std::find(part.variantNames.begin(), part.variantNames.end(), name);
          if (!f.value().isString() || v == part.variantNames.end())
            throw Fault(fw, QStringLiteral("part \"%1\" has no variant \"%2\"").arg(part.id, name));
          st.variant = int(v - part.variantNames.begin());
        } else {
          throw Fault(fw, QStringLiteral("unknown property (use rotate, dx, dy, sx, sy, opacity, variant)"));
        }
      }
    }
  }

  void parsePoses(const QJsonObject& poses) {
    if (poses.size() > Limits::kMaxPoses)
      throw overLimit(QStringLiteral("poses"), poses.size(), QStringLiteral("poses"), Limits::kMaxPoses);
    addPartStates(QStringLiteral("poses"), poses.size());
    // A pose may build on another ("base"), which may build on a third, and so on. Each chain is
    // resolved from its foot up: `chain` holds the poses waiting for their base, each the base of
    // the one below it, so that a long chain costs no stack.
    std::vector<QString> chain;
    QSet<QString> inChain;
    const auto wait = [&](const QString& name) {
      const QString w = QStringLiteral("poses.") + name;
      if (!poses.contains(name)) throw Fault(w, QStringLiteral("no such pose"));
      if (inChain.contains(name)) throw Fault(w, QStringLiteral("poses build on each other in a loop"));
      if (!poses.value(name).isObject()) throw Fault(w, QStringLiteral("must be an object"));
      chain.push_back(name);
      inChain.insert(name);
    };
    for (auto it = poses.begin(); it != poses.end(); ++it) {
      if (m_poses.contains(it.key())) continue;
      wait(it.key());
      while (!chain.empty()) {
        const QString name = chain.back();
        QJsonObject o = poses.value(name).toObject();
        Pose pose = m_def.rest;
        if (o.contains(QLatin1String("base"))) {
          const QString base = o.value(QLatin1String("base")).toString();
          if (!m_poses.contains(base)) {
            wait(base);
            continue;
          }
          pose = m_poses.value(base);
          o.remove(QLatin1String("base"));
        }
        applyState(pose, o, QStringLiteral("poses.") + name);
        m_poses.insert(name, pose);
        chain.pop_back();
        inChain.remove(name);
      }
    }
  }

  void parseSounds(const QJsonObject& sounds) {
    if (sounds.size() > Limits::kMaxSounds)
      throw overLimit(QStringLiteral("sounds"), sounds.size(), QStringLiteral("sounds"), Limits::kMaxSounds);
    qint64 totalMs = 0;
    qint64 totalLayerMs = 0;
    for (auto it = sounds.begin(); it != sounds.end(); ++it) {
      const QString w = QStringLiteral("sounds.") + it.key();
      if (!it.value().isObject()) throw Fault(w, QStringLiteral("must be an object"));
      const QJsonObject o = it.value().toObject();
      const int duration = integer(o, QStringLiteral("durationMs"), w, 1, 10000);
      totalMs += duration;
      if (totalMs > Limits::kMaxSoundMs)
        throw overLimit(w + QStringLiteral(".durationMs"), totalMs, QStringLiteral("ms of sound in all"),
                        Limits::kMaxSoundMs);
      std::vector<SoundLayer> layers;
      const QJsonArray arr = array(o, QStringLiteral("layers"), w);
      totalLayerMs += duration * arr.size();
      if (totalLayerMs > Limits::kMaxSoundLayerMs)
        throw overLimit(w + QStringLiteral(".layers"), totalLayerMs,
                        QStringLiteral("ms of sound layers in all (length × layers)"), Limits::kMaxSoundLayerMs);
      for (qsizetype i = 0; i < arr.size(); ++i) {
        const QString lw = QStringLiteral("%1.layers[%2]").arg(w).arg(i);
        if (!arr[i].isObject()) throw Fault(lw, QStringLiteral("must be an object"));
        const QJsonObject l = arr[i].toObject();
        SoundLayer layer;
        const QString wave = text(l, QStringLiteral("wave"), lw);
        if (wave == QLatin1String("noise"))
          layer.wave = SoundLayer::Noise;
        else if (wave == QLatin1String("sine"))
          layer.wave = SoundLayer::Sine;
        else if (wave == QLatin1String("square"))
          layer.wave = SoundLayer::Square;
        else if (wave == QLatin1String("saw"))
          layer.wave = SoundLayer::Saw;
        else
          throw Fault(lw + QStringLiteral(".wave"), QStringLiteral("must be noise, sine, square or saw"));
        if (l.contains(QLatin1String("freq"))) {
          const QPointF f = point(l.value(QLatin1String("freq")), lw + QStringLiteral(".freq"));
          layer.freqFrom = f.x();
          layer.freqTo = f.y();
        }
        layer.lowpassHz =
            l.contains(QLatin1String("lowpassHz")) ? number(l, QStringLiteral("lowpassHz"), lw, 0, 20000) : 0;
        layer.gain = l.contains(QLatin1String("gain")) ? number(l, QStringLiteral("gain"), lw, 0, 4) : 0.5;
        layer.tremoloHz =
            l.contains(QLatin1String("tremoloHz")) ? number(l, QStringLiteral("tremoloHz"), lw, 0, 200) : 0;
        layer.tremoloDepth =
            l.contains(QLatin1String("tremoloDepth")) ? number(l, QStringLiteral("tremoloDepth"), lw, 0, 1) : 0;
        if (l.contains(QLatin1String("envelope"))) {
          const QJsonArray env = l.value(QLatin1String("envelope")).toArray();
          if (env.size() > Limits::kMaxEnvelopePoints)
            throw overLimit(lw + QStringLiteral(".envelope"), env.size(), QStringLiteral("envelope points"),
                            Limits::kMaxEnvelopePoints);
          for (qsizetype k = 0; k < env.size(); ++k) {
            const QPointF p = point(env[k], lw + QStringLiteral(".envelope[%1]").arg(k));
            if (p.x() < 0 || p.x() > 1 || p.y() < 0 || p.y() > 1 ||
                (!layer.envelope.empty() && p.x() < layer.envelope.back().first))
              throw Fault(lw + QStringLiteral(".envelope[%1]").arg(k),
                          QStringLiteral("points must be in 0..1 and in time order"));
            layer.envelope.emplace_back(p.x(), p.y());
          }
        }
        layers.push_back(layer);
      }
      SoundEffect effect;
      effect.name = it.key();
      effect.sampleRate = 22050;
      effect.pcm = synthesizeSound(duration, effect.sampleRate, layers);
      m_def.sounds.push_back(std::move(effect));
    }
  }

  KeyFrame frame(const QJsonObject& o, const QString& w) {
    KeyFrame f;
    f.pose = m_def.rest;
    if (o.contains(QLatin1String("pose"))) {
      const QString name = text(o, QStringLiteral("pose"), w);
      if (!m_poses.contains(name))
        throw Fault(w + QStringLiteral(".pose"), QStringLiteral("no pose named \"%1\"").arg(name));
      f.pose = m_poses.value(name);
    }
    if (o.contains(QLatin1String("set")))
      applyState(f.pose, object(o, QStringLiteral("set"), w), w + QStringLiteral(".set"));
    f.durationMs = integer(o, QStringLiteral("duration"), w, 1, 60000);
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
      throw Fault(w + QStringLiteral(".ease"), QStringLiteral("must be linear, inout, in or out"));
    if (o.contains(QLatin1String("sound"))) {
      const QString name = text(o, QStringLiteral("sound"), w);
      const auto s =
          std::find_if(m_def.sounds.begin(), m_def.sounds.end(), [&](const SoundEffect& e) { return e.name == name; });
      if (s == m_def.sounds.end())
        throw Fault(w + QStringLiteral(".sound"), QStringLiteral("no sound named \"%1\"").arg(name));
      f.sound = int(s - m_def.sounds.begin());
    }
    return f;
  }

  void parseAnimations(const QJsonObject& anims) {
    if (anims.isEmpty())
      throw Fault(QStringLiteral("animations"), QStringLiteral("a character needs at least one animation"));
    if (anims.size() > Limits::kMaxAnimations)
      throw overLimit(QStringLiteral("animations"), anims.size(), QStringLiteral("animations"), Limits::kMaxAnimations);
    for (auto it = anims.begin(); it != anims.end(); ++it) {
      const QString w = QStringLiteral("animations.") + it.key();
      if (m_def.findAnimation(it.key()))
        throw Fault(w, QStringLiteral("another animation has the same name in a different letter case"));
      if (!it.value().isObject()) throw Fault(w, QStringLiteral("must be an object"));
      const QJsonObject o = it.value().toObject();
      Animation a;
      a.name = it.key();
      a.loop = o.value(QLatin1String("loop")).toBool(false);
      if (o.contains(QLatin1String("fps"))) a.fps = integer(o, QStringLiteral("fps"), w, 1, 60);
      const QJsonArray frames = array(o, QStringLiteral("frames"), w);
      if (frames.isEmpty())
        throw Fault(w + QStringLiteral(".frames"), QStringLiteral("an animation needs at least one frame"));
      if (frames.size() > Limits::kMaxFramesPerAnimation)
        throw overLimit(w + QStringLiteral(".frames"), frames.size(), QStringLiteral("key frames"),
                        Limits::kMaxFramesPerAnimation);
      addPartStates(w + QStringLiteral(".frames"), frames.size());
      for (qsizetype i = 0; i < frames.size(); ++i) {
        const QString fw = QStringLiteral("%1.frames[%2]").arg(w).arg(i);
        if (!frames[i].isObject()) throw Fault(fw, QStringLiteral("must be an object"));
        a.frames.push_back(frame(frames[i].toObject(), fw));
      }
      m_def.animations.push_back(std::move(a));
    }
  }

  void parseIdle(const QJsonObject& o) {
    IdleSettings& idle = m_def.idle;
    const QJsonArray variants = array(o, QStringLiteral("variants"), QStringLiteral("idle"));
    if (variants.size() > Limits::kMaxIdleVariants)
      throw overLimit(QStringLiteral("idle.variants"), variants.size(), QStringLiteral("entries"),
                      Limits::kMaxIdleVariants);
    for (qsizetype i = 0; i < variants.size(); ++i) {
      const QString name = variants[i].toString();
      if (!m_def.findAnimation(name))
        throw Fault(QStringLiteral("idle.variants[%1]").arg(i), QStringLiteral("no animation named \"%1\"").arg(name));
      idle.variants << name;
    }
    idle.minIntervalMs = integer(o, QStringLiteral("minIntervalMs"), QStringLiteral("idle"), 500, 600000);
    idle.maxIntervalMs =
        integer(o, QStringLiteral("maxIntervalMs"), QStringLiteral("idle"), idle.minIntervalMs, 600000);
    if (o.contains(QLatin1String("sleep"))) {
      idle.sleep = text(o, QStringLiteral("sleep"), QStringLiteral("idle"));
      const Animation* a = m_def.findAnimation(idle.sleep);
      if (!a) throw Fault(QStringLiteral("idle.sleep"), QStringLiteral("no animation named \"%1\"").arg(idle.sleep));
      if (!a->loop) throw Fault(QStringLiteral("idle.sleep"), QStringLiteral("the sleep animation must loop"));
      idle.sleepAfterMs = integer(o, QStringLiteral("sleepAfterMs"), QStringLiteral("idle"), 1000, 3600000);
    }
  }

  int partIndex(const QString& id) const { return m_partIndex.value(id, -1); }

  // The rest pose, each named pose and each key frame hold a state for every part.
  void addPartStates(const QString& where, qint64 poses) {
    m_partStates += poses * qint64(m_def.parts.size());
    if (m_partStates > Limits::kMaxPartStates)
      throw overLimit(where, m_partStates, QStringLiteral("part states in all (parts × (1 + poses + key frames))"),
                      Limits::kMaxPartStates);
  }

  CharacterDefinition& m_def;
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

}  // namespace

LoadResult parseCharacter(const QByteArray& contents, const QString& fileName) {
  LoadResult result;
  if (contents.size() > Limits::kMaxFileBytes) {
    result.error = fileName + QStringLiteral(": ") + tooLarge(contents.size());
    return result;
  }
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(contents, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    result.error = QStringLiteral("%1: line %2: not valid JSON: %3")
                       .arg(fileName)
                       .arg(lineOf(contents, parseError.offset))
                       .arg(parseError.errorString());
    return result;
  }
  if (!doc.isObject()) {
    result.error = QStringLiteral("%1: not a character file (the top level must be a JSON object)").arg(fileName);
    return result;
  }
  auto def = std::make_shared<CharacterDefinition>();
  try {
    Parser(*def).parse(doc.object());
  } catch (const Fault& f) {
    result.error = QStringLiteral("%1: %2: %3").arg(fileName, f.where, f.what_);
    return result;
  }
  result.character = std::move(def);
  return result;
}

LoadResult loadCharacterFile(const QString& path) {
  LoadResult r;
  const auto fail = [&](const QString& what) {
    r.error = path + QStringLiteral(": ") + what;
    return r;
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
  if (st.st_size > Limits::kMaxFileBytes) return fail(tooLarge(st.st_size));
  const QByteArray contents = file.read(Limits::kMaxFileBytes + 1);
  if (file.error() != QFileDevice::NoError) return fail(QStringLiteral("cannot be read: ") + file.errorString());
  if (contents.size() > Limits::kMaxFileBytes)
    return fail(QStringLiteral("too large to be a character file (more than the limit of %1 bytes)")
                    .arg(Limits::kMaxFileBytes));
  r = parseCharacter(contents, path);
  if (r.character) std::const_pointer_cast<CharacterDefinition>(r.character)->path = path;
  return r;
}

}  // namespace agent
