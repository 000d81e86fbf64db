#include "agent/character_file.h"
#include "agent/renderer.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace agent;

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QString assets() { return QStringLiteral(AGENT_ASSETS_DIR); }

// The smallest valid character, for the loader's error cases to damage one piece at a time.
QJsonObject minimal() {
  const QByteArray text = R"({
      "format": "olm-chimewise-character", "version": 1, "name": "Dot",
      "width": 64, "height": 64,
      "voice": {"name": "en-us", "rate": 170, "pitch": 50},
      "parts": [
        {"id": "body", "pivot": [32, 32], "shapes": [{"ellipse": [32, 32, 20, 20], "fill": "#336699"}]},
        {"id": "mouth", "parent": "body", "shapes": [{"path": "M26,40 h12", "stroke": "black", "width": 2}],
         "variants": {"open": [{"ellipse": [32, 40, 5, 4], "fill": "black"}],
                      "wide": [{"rect": [24, 38, 16, 5, 2], "fill": "black"}],
                      "round": [{"ellipse": [32, 40, 3, 3], "fill": "black"}]}}
      ],
      "mouth": {"part": "mouth", "shapes": {"closed": "", "open": "open", "wide": "wide", "round": "round", "teeth": "wide"}},
      "sounds": {"snore": {"durationMs": 300, "layers": [{"wave": "noise", "lowpassHz": 400}]}},
      "poses": {"up": {"body": {"dy": -4}}},
      "animations": {"Hop": {"frames": [{"pose": "up", "duration": 100}, {"duration": 100, "sound": "snore"}]},
                     "Sleep": {"loop": true, "frames": [{"duration": 500}]}},
      "idle": {"variants": ["Hop"], "minIntervalMs": 1000, "maxIntervalMs": 2000, "sleep": "Sleep", "sleepAfterMs": 5000}
    })";
  return QJsonDocument::fromJson(text).object();
}

QString errorFor(const QJsonObject& o) {
  const LoadResult r = parseCharacter(QJsonDocument(o).toJson(), QStringLiteral("dot.ochar"));
  return r.character ? QString() : r.error;
}

QJsonObject with(QJsonObject o, const QString& key, const QJsonValue& v) {
  o[key] = v;
  return o;
}

}  // namespace

TEST(AgentCharacterFile, MinimalCharacterLoads) {
  const LoadResult r = parseCharacter(QJsonDocument(minimal()).toJson(), QStringLiteral("dot.ochar"));
  ASSERT_TRUE(r.character) << r.error.toStdString();
  const CharacterDefinition& c = *r.character;
  EXPECT_EQ(c.name, QStringLiteral("Dot"));
  EXPECT_EQ(c.parts[1].parent, 0);
  EXPECT_EQ(c.findAnimation(QStringLiteral("hOP")), &c.animations[0]);
  EXPECT_EQ(c.findAnimation(QStringLiteral(" Hop ")), &c.animations[0]);
  EXPECT_EQ(c.findAnimation(QStringLiteral("None")), nullptr);
  EXPECT_DOUBLE_EQ(c.animations[0].frames[0].pose[0].dy, -4);
  EXPECT_EQ(c.animations[0].frames[1].sound, 0);
  EXPECT_EQ(c.sounds[0].pcm.size(), 300 * 22050 / 1000 * 2);
}

TEST(AgentCharacterFile, VoiceFormantsAreOptionalAndKeptWhenGiven) {
  // Written before the formants could be placed: the voice's own.
  LoadResult r = parseCharacter(QJsonDocument(minimal()).toJson(), QStringLiteral("dot.ochar"));
  ASSERT_TRUE(r.character) << r.error.toStdString();
  EXPECT_EQ(r.character->voice.formants, 100);
  EXPECT_EQ(r.character->voice.rate, 170);

  const QJsonObject voice{{"name", "flite:slt"}, {"rate", 180}, {"pitch", 55}, {"formants", 91}};
  r = parseCharacter(QJsonDocument(with(minimal(), "voice", voice)).toJson(), QStringLiteral("dot.ochar"));
  ASSERT_TRUE(r.character) << r.error.toStdString();
  EXPECT_EQ(r.character->voice.formants, 91);
  EXPECT_EQ(r.character->voice.pitch, 55);
  EXPECT_EQ(r.character->voice.rate, 180);
}

TEST(AgentCharacterFile, LoaderNamesTheFileAndTheFault) {
  struct Case {
    QJsonObject doc;
    const char* expected;
  };
  QJsonObject badPath = minimal();
  {
    QJsonArray parts = badPath[QStringLiteral("parts")].toArray();
    QJsonObject body = parts[0].toObject();
    body[QStringLiteral("shapes")] = QJsonArray{QJsonObject{{"path", "M0,0 X5,5"}, {"fill", "red"}}};
    parts[0] = body;
    badPath[QStringLiteral("parts")] = parts;
  }
  QJsonObject badParent = minimal();
  {
    QJsonArray parts = badParent[QStringLiteral("parts")].toArray();
    QJsonObject mouth = parts[1].toObject();
    mouth[QStringLiteral("parent")] = QStringLiteral("nose");
    parts[1] = mouth;
    badParent[QStringLiteral("parts")] = parts;
  }
  QJsonObject loop = minimal();
  {
    QJsonArray parts = loop[QStringLiteral("parts")].toArray();
    QJsonObject body = parts[0].toObject();
    body[QStringLiteral("parent")] = QStringLiteral("mouth");
    parts[0] = body;
    loop[QStringLiteral("parts")] = parts;
  }
  QJsonObject threeMouths = minimal();
  threeMouths[QStringLiteral("mouth")] = QJsonObject{
      {"part", "mouth"},
      {"shapes",
       QJsonObject{{"closed", ""}, {"open", "open"}, {"wide", "open"}, {"round", "round"}, {"teeth", "round"}}}};
  QJsonObject unknownPose = minimal();
  unknownPose[QStringLiteral("animations")] =
      QJsonObject{{"Hop", QJsonObject{{"frames", QJsonArray{QJsonObject{{"pose", "down"}, {"duration", 100}}}}}}};
  QJsonObject sameName = minimal();
  {
    QJsonObject anims = sameName[QStringLiteral("animations")].toObject();
    const QJsonValue hop = anims.value(QStringLiteral("Hop"));
    anims.insert(QStringLiteral("HOP"), hop);
    sameName[QStringLiteral("animations")] = anims;
  }
  QJsonObject unknownProperty = minimal();
  unknownProperty[QStringLiteral("poses")] = QJsonObject{{"up", QJsonObject{{"body", QJsonObject{{"spin", 3}}}}}};
  QJsonObject nonLoopingSleep = minimal();
  {
    QJsonObject idle = nonLoopingSleep[QStringLiteral("idle")].toObject();
    idle[QStringLiteral("sleep")] = QStringLiteral("Hop");
    nonLoopingSleep[QStringLiteral("idle")] = idle;
  }
  QJsonObject noGeometry = minimal();
  {
    QJsonArray parts = noGeometry[QStringLiteral("parts")].toArray();
    QJsonObject body = parts[0].toObject();
    body[QStringLiteral("shapes")] = QJsonArray{QJsonObject{{"fill", "red"}}};
    parts[0] = body;
    noGeometry[QStringLiteral("parts")] = parts;
  }

  const Case cases[] = {
      {with(minimal(), "format", "agent"), "format: not an Olm Chimewise character file"},
      {with(minimal(), "version", 2), "version: version 2 is not supported"},
      {with(minimal(), "width", 0), "width: 0 is outside 16 to 2048"},
      {with(minimal(), "height", "tall"), "height: must be a number"},
      {with(minimal(), "voice", QJsonObject{{"name", "en-us"}, {"rate", 170}}), "voice.pitch: missing"},
      {with(minimal(), "voice", QJsonObject{{"name", "en-us"}, {"rate", 170}, {"pitch", 50}, {"formants", 79}}),
       "voice.formants: 79 is outside 80 to 120"},
      {with(minimal(), "voice", QJsonObject{{"name", "en-us"}, {"rate", 170}, {"pitch", 50}, {"formants", 121}}),
       "voice.formants: 121 is outside 80 to 120"},
      {with(minimal(), "voice", QJsonObject{{"name", "en-us"}, {"rate", 170}, {"pitch", 50}, {"formants", 92.5}}),
       "voice.formants: must be a whole number"},
      {badPath, "parts[0].shapes[0].path: unknown path command 'X'"},
      {badParent, "parts[1].parent: no part named \"nose\""},
      {loop, "parts form a loop"},
      {threeMouths, "mouth.shapes: lip-sync needs at least four different mouth shapes"},
      {unknownPose, "animations.Hop.frames[0].pose: no pose named \"down\""},
      {sameName, "another animation has the same name in a different letter case"},
      {unknownProperty, "poses.up.body.spin: unknown property"},
      {nonLoopingSleep, "idle.sleep: the sleep animation must loop"},
      {noGeometry, "parts[0].shapes[0]: needs exactly one of path, ellipse, rect"},
      {with(minimal(), "parts", QJsonArray{}), "parts: a character needs at least one part"},
      {with(minimal(), "poses", QJsonObject{{"up", QJsonObject{{"base", "down"}}}}), "poses.down: no such pose"},
      {with(minimal(), "poses",
            QJsonObject{{"up", QJsonObject{{"base", "high"}}}, {"high", QJsonObject{{"base", "up"}}}}),
       "poses.high: poses build on each other in a loop"},
  };
  for (const Case& c : cases) {
    const QString error = errorFor(c.doc);
    EXPECT_TRUE(error.startsWith(QStringLiteral("dot.ochar: "))) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.expected)))
        << "wanted: " << c.expected << "\n got: " << error.toStdString();
  }
}

TEST(AgentCharacterFile, DamagedFilesAreRejectedWithTheirName) {
  QTemporaryDir dir;
  const QString truncated = dir.filePath(QStringLiteral("cut.ochar"));
  QFile f(truncated);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QJsonDocument(minimal()).toJson().left(300));
  f.close();
  LoadResult r = loadCharacterFile(truncated);
  EXPECT_FALSE(r.character);
  EXPECT_TRUE(r.error.startsWith(truncated)) << r.error.toStdString();
  EXPECT_TRUE(r.error.contains(QStringLiteral("not valid JSON"))) << r.error.toStdString();

  r = loadCharacterFile(dir.filePath(QStringLiteral("missing.ochar")));
  EXPECT_FALSE(r.character);
  EXPECT_TRUE(r.error.contains(QStringLiteral("missing.ochar: cannot be read"))) << r.error.toStdString();

  // Every prefix of a real character file is either rejected with a message or loads.
  QFile hoot(assets() + QStringLiteral("Hoot.ochar"));
  ASSERT_TRUE(hoot.open(QIODevice::ReadOnly));
  const QByteArray all = hoot.readAll();
  for (qsizetype n = 0; n < all.size(); n += all.size() / 97 + 1) {
    const LoadResult part = parseCharacter(all.left(n), QStringLiteral("Hoot.ochar"));
    EXPECT_FALSE(part.character);
    EXPECT_FALSE(part.error.isEmpty());
  }
}

TEST(AgentCharacterFile, PathDataCoversSvgCommands) {
  QJsonObject o = minimal();
  QJsonArray parts = o[QStringLiteral("parts")].toArray();
  QJsonObject body = parts[0].toObject();
  body[QStringLiteral("shapes")] = QJsonArray{QJsonObject{
      {"path",
       "M10,10 h10 v10 H10 V12 l2,2 c1,1 2,2 3,3 s1,1 2,2 q1,1 2,2 t2,2 a5,5 0 0 1 5,5 A3,4 20 1 0 30,30 z m1,1 L2,2Z"},
      {"fill", "red"}}};
  parts[0] = body;
  o[QStringLiteral("parts")] = parts;
  const LoadResult r = parseCharacter(QJsonDocument(o).toJson(), QStringLiteral("dot.ochar"));
  ASSERT_TRUE(r.character) << r.error.toStdString();
  const QRectF bounds = r.character->parts[0].variants[0][0].path.boundingRect();
  EXPECT_LE(bounds.left(), 2.0);
  EXPECT_GE(bounds.right(), 30.0);
}

// ---- The characters we ship --------------------------------------------------------------

namespace {

// Every animation the program plays by name or offers in its gesture list, plus the service's own.
const QStringList kRequired = {"Acknowledge", "Alert",        "Announce",  "Blink",         "Confused", "Congratulate",
                               "Decline",     "DoMagic1",     "DoMagic2",  "DontRecognize", "Explain",  "GestureDown",
                               "GestureLeft", "GestureRight", "GestureUp", "GetAttention",  "Greet",    "Pleased",
                               "Read",        "ReadReturn",   "Sad",       "Search",        "Suggest",  "Surprised",
                               "Think",       "Uncertain",    "Wave",      "Write",         "Show",     "Hide"};
const QStringList kGestures = {"Acknowledge",  "Alert",     "Announce",      "Confused",  "Congratulate", "Decline",
                               "DoMagic1",     "DoMagic2",  "DontRecognize", "Explain",   "GestureDown",  "GestureLeft",
                               "GestureRight", "GestureUp", "GetAttention",  "Greet",     "Pleased",      "Read",
                               "Sad",          "Search",    "Suggest",       "Surprised", "Think",        "Uncertain",
                               "Wave",         "Write"};

struct AgentShipped : ::testing::TestWithParam<const char*> {
  std::shared_ptr<const CharacterDefinition> load() {
    const LoadResult r = loadCharacterFile(assets() + QString::fromUtf8(GetParam()));
    EXPECT_TRUE(r.character) << r.error.toStdString();
    return r.character;
  }
};

// Direction an arm points in a pose: the arm hangs down at rest; rotations add up the tree.
QPointF armDirection(const CharacterDefinition& c, const Pose& pose, const QString& arm) {
  double degrees = 0;
  for (int p = c.findPart(arm); p >= 0; p = c.parts[size_t(p)].parent) degrees += pose[size_t(p)].rotate;
  const double r = degrees * M_PI / 180.0;
  return {-std::sin(r), std::cos(r)};
}

bool anyFrame(const Animation& a, const std::function<bool(const Pose&)>& test) {
  for (const KeyFrame& f : a.frames)
    if (test(f.pose)) return true;
  return false;
}

}  // namespace

TEST_P(AgentShipped, HasEveryAnimationTheProgramAsksFor) {
  const auto c = load();
  ASSERT_TRUE(c);
  for (const QString& name : kRequired) EXPECT_TRUE(c->findAnimation(name)) << name.toStdString();
  EXPECT_FALSE(c->findAnimation(QStringLiteral("None")));
  EXPECT_TRUE(c->findAnimation(QStringLiteral("write")));
  EXPECT_TRUE(c->findAnimation(QStringLiteral("surprised")));
  EXPECT_GE(c->idle.variants.size(), 2);
  EXPECT_FALSE(c->idle.sleep.isEmpty());
  const Animation* sleep = c->findAnimation(c->idle.sleep);
  ASSERT_TRUE(sleep);
  EXPECT_TRUE(sleep->loop);
  bool snores = false;
  for (const KeyFrame& f : sleep->frames)
    snores |= f.sound >= 0 && c->sounds[size_t(f.sound)].name == QLatin1String("snore");
  EXPECT_TRUE(snores);
  QSet<int> mouths(c->mouthVariants.begin(), c->mouthVariants.end());
  EXPECT_GE(mouths.size(), 4);
}

TEST_P(AgentShipped, GesturesAreRealMotion) {
  const auto c = load();
  ASSERT_TRUE(c);
  for (const QString& name : kGestures) {
    const Animation* a = c->findAnimation(name);
    ASSERT_TRUE(a) << name.toStdString();
    std::vector<Pose> distinct;
    for (const KeyFrame& f : a->frames)
      if (f.pose != c->rest && std::find(distinct.begin(), distinct.end(), f.pose) == distinct.end())
        distinct.push_back(f.pose);
    EXPECT_GE(distinct.size(), 3u) << name.toStdString();
  }
}

TEST_P(AgentShipped, PointingGesturesPointTheRightWay) {
  const auto c = load();
  ASSERT_TRUE(c);
  const auto points = [&](const char* anim, const char* arm, auto test) {
    const Animation* a = c->findAnimation(QString::fromUtf8(anim));
    return a && anyFrame(*a, [&](const Pose& p) { return test(armDirection(*c, p, QString::fromUtf8(arm))); });
  };
  // Screen directions: left is where GestureLeft points.
  EXPECT_TRUE(points("GestureLeft", "armL", [](QPointF d) { return d.x() < -0.95; }));
  EXPECT_FALSE(points("GestureLeft", "armR", [](QPointF d) { return d.x() > 0.5; }));
  EXPECT_TRUE(points("GestureRight", "armR", [](QPointF d) { return d.x() > 0.95; }));
  EXPECT_FALSE(points("GestureRight", "armL", [](QPointF d) { return d.x() < -0.5; }));
  EXPECT_TRUE(points("GestureUp", "armR", [](QPointF d) { return d.y() < -0.95; }));
  EXPECT_TRUE(points("GestureDown", "armR", [](QPointF d) { return d.y() > 0.85 && std::abs(d.x()) > 0.2; }));
  // Looking down while pointing down.
  const Animation* down = c->findAnimation(QStringLiteral("GestureDown"));
  const int pupil = c->findPart(QStringLiteral("pupilL"));
  EXPECT_TRUE(anyFrame(*down, [&](const Pose& p) { return p[size_t(pupil)].dy > 1; }));
}

TEST_P(AgentShipped, PropsAppearWhereTheNameCallsForThem) {
  const auto c = load();
  ASSERT_TRUE(c);
  const auto shows = [&](const char* anim, const char* prop) {
    const int p = c->findPart(QString::fromUtf8(prop));
    const Animation* a = c->findAnimation(QString::fromUtf8(anim));
    return p >= 0 && a && c->rest[size_t(p)].opacity == 0 &&
           anyFrame(*a, [&](const Pose& pose) { return pose[size_t(p)].opacity > 0.9; });
  };
  EXPECT_TRUE(shows("Write", "pad"));
  EXPECT_TRUE(shows("Write", "pen"));
  EXPECT_TRUE(shows("Read", "book"));
  EXPECT_TRUE(shows("Search", "glass"));
  EXPECT_TRUE(shows("DoMagic1", "wand"));
  EXPECT_TRUE(shows("DoMagic2", "wand"));
  EXPECT_TRUE(shows("DoMagic2", "sparkles"));
  // Read ends holding the book; ReadReturn puts it away.
  const int book = c->findPart(QStringLiteral("book"));
  EXPECT_GT(c->findAnimation(QStringLiteral("Read"))->frames.back().pose[size_t(book)].opacity, 0.9);
  EXPECT_EQ(c->findAnimation(QStringLiteral("ReadReturn"))->frames.back().pose[size_t(book)].opacity, 0);
}

TEST_P(AgentShipped, DrawsSharpAtEverySize) {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
  Q_UNUSED(app)
  const auto c = load();
  ASSERT_TRUE(c);
  for (double scale : {0.25, 1.0, 2.0}) {
    const QSize size(int(c->width * scale), int(c->height * scale));
    const QImage img = renderCharacter(*c, c->rest, size);
    ASSERT_EQ(img.size(), size);
    // Something is drawn, the corners stay transparent, and edges are anti-aliased
    // (partly transparent pixels exist) rather than blocky.
    int opaque = 0, partial = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const int a = qAlpha(img.pixel(x, y));
        opaque += a == 255;
        partial += a > 0 && a < 255;
      }
    EXPECT_GT(opaque, size.width() * size.height() / 6) << scale;
    EXPECT_GT(partial, 0) << scale;
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(img.pixel(img.width() - 1, 0)), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Characters, AgentShipped, ::testing::Values("Hoot.ochar", "Bolt.ochar"));

TEST(AgentCharacterFile, FlippedBytesNeverCrashTheLoader) {
  QFile bolt(assets() + QStringLiteral("Bolt.ochar"));
  ASSERT_TRUE(bolt.open(QIODevice::ReadOnly));
  const QByteArray original = bolt.readAll();
  quint32 seed = 99;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  int rejected = 0;
  for (int i = 0; i < 150; ++i) {
    QByteArray damaged = original;
    for (int k = 0; k < 3; ++k) damaged[qsizetype(next() % quint32(damaged.size()))] = char(next() & 0xff);
    const LoadResult r = parseCharacter(damaged, QStringLiteral("Bolt.ochar"));
    if (!r.character) {
      ++rejected;
      EXPECT_TRUE(r.error.startsWith(QStringLiteral("Bolt.ochar: "))) << r.error.toStdString();
    }
  }
  EXPECT_GT(rejected, 50);
}

// ---- What a character file may ask of the loader ---------------------------------------------

namespace {

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

// `o` with one more member written straight into its text: large members are quicker written than built.
QByteArray withMember(const QJsonObject& o, const QByteArray& key, const QByteArray& value) {
  QByteArray text = compact(o);
  text.chop(1);
  return text + ",\"" + key + "\":" + value + '}';
}

// `length` poses: "up" builds on "p0", "p0" on "p1", and so on down to one that lifts the body.
QByteArray poseChain(int length) {
  QByteArray poses = "{\"up\":";
  for (int i = 0; i + 1 < length; ++i) {
    const QByteArray name = "\"p" + QByteArray::number(i, 36) + '"';
    poses += "{\"base\":" + name + "}," + name + ':';
  }
  return poses + "{\"body\":{\"dy\":-7}}}";
}

LoadResult parse(const QByteArray& text) { return parseCharacter(text, QStringLiteral("dot.ochar")); }

QJsonObject edited(QJsonObject o, const QString& key, const std::function<void(QJsonObject&)>& edit) {
  QJsonObject member = o[key].toObject();
  edit(member);
  o[key] = member;
  return o;
}

QJsonObject withPart(QJsonObject o, int index, const std::function<void(QJsonObject&)>& edit) {
  QJsonArray parts = o[QStringLiteral("parts")].toArray();
  QJsonObject part = parts[index].toObject();
  edit(part);
  parts[index] = part;
  o[QStringLiteral("parts")] = parts;
  return o;
}

QJsonObject withParts(QJsonObject o, int count) {
  QJsonArray parts = o[QStringLiteral("parts")].toArray();
  while (parts.size() < count) parts.append(QJsonObject{{"id", QStringLiteral("p%1").arg(parts.size())}});
  o[QStringLiteral("parts")] = parts;
  return o;
}

QJsonArray repeated(const QJsonValue& v, int count) {
  QJsonArray a;
  for (int i = 0; i < count; ++i) a.append(v);
  return a;
}

int outlinePoints(const CharacterDefinition& c) {
  int n = 0;
  for (const Part& p : c.parts)
    for (const std::vector<Shape>& v : p.variants)
      for (const Shape& s : v) n += s.path.elementCount();
  return n;
}

}  // namespace

TEST(AgentCharacterFile, LongChainsAndDeepNestingNeedNoDeepStack) {
  QJsonObject noPoses = minimal();
  noPoses.remove(QStringLiteral("poses"));
  // Resolving poses recursively overflowed an 8 MB stack at some 30,000 poses in a chain.
  const QByteArray hostile = withMember(noPoses, "poses", poseChain(70'000));
  ASSERT_LE(hostile.size(), CharacterLimits::kMaxFileBytes);
  LoadResult r = parse(hostile);
  EXPECT_FALSE(r.character);
  EXPECT_TRUE(r.error.startsWith(QStringLiteral("dot.ochar: poses: 70000 poses; the limit is")))
      << r.error.toStdString();
  // A chain as long as a character may have resolves from its foot to its top.
  r = parse(withMember(noPoses, "poses", poseChain(CharacterLimits::kMaxPoses)));
  ASSERT_TRUE(r.character) << r.error.toStdString();
  EXPECT_DOUBLE_EQ(r.character->findAnimation(QStringLiteral("Hop"))->frames[0].pose[0].dy, -7);
  // JSON nested deeper than any character needs is refused by the JSON reader itself.
  r = parse(withMember(minimal(), "deep", QByteArray(100'000, '[') + QByteArray(100'000, ']')));
  EXPECT_TRUE(r.error.startsWith(QStringLiteral("dot.ochar: line 1: not valid JSON"))) << r.error.toStdString();
}

TEST(AgentCharacterFile, EachBoundTakesItsLimitAndRefusesOneMore) {
  using L = CharacterLimits;
  // The outline points of the minimal character, but for its "wide" mouth, which the table fills up.
  const LoadResult dot = parse(compact(minimal()));
  ASSERT_TRUE(dot.character) << dot.error.toStdString();
  const int wide = 3;  // variants of a part are in name order, after its own shapes: open, round, wide
  ASSERT_EQ(dot.character->parts[1].variantNames[wide], QStringLiteral("wide"));
  const int others = outlinePoints(*dot.character) - dot.character->parts[1].variants[wide][0].path.elementCount();
  static_assert(L::kMaxPartStates % 400 == 0);

  struct Bound {
    const char* where;  // where the refusal points
    int limit;
    std::function<QJsonObject(int)> make;  // a character that uses this much
  };
  const Bound bounds[] = {
      {"parts", L::kMaxParts, [](int n) { return withParts(minimal(), n); }},
      {"parts[0].variants", L::kMaxVariantsPerPart,
       [](int n) {
         return withPart(minimal(), 0, [n](QJsonObject& body) {
           QJsonObject variants;
           for (int i = 0; i < n; ++i) variants.insert(QStringLiteral("v%1").arg(i), QJsonArray{});
           body[QStringLiteral("variants")] = variants;
         });
       }},
      {"parts[1].variants.wide[0]", L::kMaxOutlinePoints,
       [others](int n) {
         return withPart(minimal(), 1, [&](QJsonObject& mouth) {
           QJsonObject variants = mouth[QStringLiteral("variants")].toObject();
           const QString path = QStringLiteral("M0,0") + QStringLiteral(" h1").repeated(n - others - 1);
           variants[QStringLiteral("wide")] = QJsonArray{QJsonObject{{"path", path}, {"fill", "black"}}};
           mouth[QStringLiteral("variants")] = variants;
         });
       }},
      {"poses", L::kMaxPoses,
       [](int n) {
         return edited(minimal(), QStringLiteral("poses"), [n](QJsonObject& poses) {
           for (int i = 1; i < n; ++i)
             poses.insert(QStringLiteral("q%1").arg(i), QJsonObject{{"body", QJsonObject{{"dx", 1}}}});
         });
       }},
      {"animations", L::kMaxAnimations,
       [](int n) {
         return edited(minimal(), QStringLiteral("animations"), [n](QJsonObject& anims) {
           for (int i = 2; i < n; ++i)
             anims.insert(QStringLiteral("A%1").arg(i),
                          QJsonObject{{"frames", QJsonArray{QJsonObject{{"duration", 1}}}}});
         });
       }},
      {"animations.Walk.frames", L::kMaxFramesPerAnimation,
       [](int n) {
         return edited(minimal(), QStringLiteral("animations"), [n](QJsonObject& anims) {
           anims.insert(QStringLiteral("Walk"), QJsonObject{{"frames", repeated(QJsonObject{{"duration", 1}}, n)}});
         });
       }},
      // 400 parts in the rest pose, the one named pose, three frames and the walk's; one frame more is over.
      {"animations.Walk.frames", L::kMaxPartStates,
       [](int n) {
         const int walk = (n + 399) / 400 - 5;
         return edited(withParts(minimal(), 400), QStringLiteral("animations"), [walk](QJsonObject& anims) {
           anims.insert(QStringLiteral("Walk"), QJsonObject{{"frames", repeated(QJsonObject{{"duration", 1}}, walk)}});
         });
       }},
      {"sounds", L::kMaxSounds,
       [](int n) {
         return edited(minimal(), QStringLiteral("sounds"), [n](QJsonObject& sounds) {
           for (int i = 1; i < n; ++i)
             sounds.insert(QStringLiteral("a%1").arg(i), QJsonObject{{"durationMs", 1}, {"layers", QJsonArray{}}});
         });
       }},
      // Ten-second sounds and a snore that makes up the rest.
      {"sounds.snore.durationMs", L::kMaxSoundMs,
       [](int n) {
         return edited(minimal(), QStringLiteral("sounds"), [n](QJsonObject& sounds) {
           const int full = (n - 1) / 10'000;
           for (int i = 0; i < full; ++i)
             sounds.insert(QStringLiteral("a%1").arg(i), QJsonObject{{"durationMs", 10'000}, {"layers", QJsonArray{}}});
           sounds[QStringLiteral("snore")] = QJsonObject{{"durationMs", n - full * 10'000}, {"layers", QJsonArray{}}};
         });
       }},
      {"sounds.snore.layers", L::kMaxSoundLayerMs,
       [](int n) {
         return edited(minimal(), QStringLiteral("sounds"), [n](QJsonObject& sounds) {
           const int layers = (n - 1) / 10'000;
           const QJsonObject noise{{"wave", "noise"}};
           sounds.insert(QStringLiteral("a"), QJsonObject{{"durationMs", 10'000}, {"layers", repeated(noise, layers)}});
           sounds[QStringLiteral("snore")] =
               QJsonObject{{"durationMs", n - layers * 10'000}, {"layers", QJsonArray{noise}}};
         });
       }},
      {"sounds.snore.layers[0].envelope", L::kMaxEnvelopePoints,
       [](int n) {
         return edited(minimal(), QStringLiteral("sounds"), [n](QJsonObject& sounds) {
           const QJsonObject layer{{"wave", "sine"}, {"envelope", repeated(QJsonArray{0.5, 1}, n)}};
           sounds[QStringLiteral("snore")] = QJsonObject{{"durationMs", 300}, {"layers", QJsonArray{layer}}};
         });
       }},
      {"idle.variants", L::kMaxIdleVariants,
       [](int n) {
         return edited(minimal(), QStringLiteral("idle"),
                       [n](QJsonObject& idle) { idle[QStringLiteral("variants")] = repeated("Hop", n); });
       }},
  };
  for (const Bound& b : bounds) {
    SCOPED_TRACE(b.where);
    const LoadResult atLimit = parse(compact(b.make(b.limit)));
    EXPECT_TRUE(atLimit.character) << atLimit.error.toStdString();
    const QString over = parse(compact(b.make(b.limit + 1))).error;
    EXPECT_TRUE(over.startsWith(QStringLiteral("dot.ochar: %1: ").arg(QString::fromUtf8(b.where))))
        << over.toStdString();
    EXPECT_TRUE(over.endsWith(QStringLiteral("; the limit is %1").arg(b.limit))) << over.toStdString();
  }
}

TEST(AgentCharacterFile, OnlyRegularFilesWithinTheSizeLimitAreRead) {
  QTemporaryDir dir;
  const auto write = [&](const QString& name, qint64 size) {
    QByteArray text = compact(minimal());
    text.append(QByteArray(size - text.size(), ' '));
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return f.fileName();
  };
  LoadResult r = loadCharacterFile(write(QStringLiteral("full.ochar"), CharacterLimits::kMaxFileBytes));
  EXPECT_TRUE(r.character) << r.error.toStdString();
  const QString over = write(QStringLiteral("over.ochar"), CharacterLimits::kMaxFileBytes + 1);
  EXPECT_EQ(loadCharacterFile(over).error,
            over + QStringLiteral(": too large to be a character file (%1 bytes; the limit is %2)")
                       .arg(CharacterLimits::kMaxFileBytes + 1)
                       .arg(CharacterLimits::kMaxFileBytes));

  r = loadCharacterFile(dir.path());
  EXPECT_FALSE(r.character);
  EXPECT_TRUE(r.error.startsWith(dir.path() + QStringLiteral(": cannot be read"))) << r.error.toStdString();

  // Opening a pipe for reading waits for a writer. Should the loader do so, one comes along in a
  // while and goes at once, so that the test fails rather than hangs.
  const QString pipe = dir.filePath(QStringLiteral("pipe.ochar"));
  const QByteArray pipeName = QFile::encodeName(pipe);
  ASSERT_EQ(mkfifo(pipeName.constData(), 0600), 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 100 && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const int fd = ::open(pipeName.constData(), O_WRONLY | O_NONBLOCK);  // fails while no one reads
      if (fd >= 0) return void(::close(fd));
    }
  });
  r = loadCharacterFile(pipe);
  done = true;
  writer.join();
  EXPECT_EQ(r.error, pipe + QStringLiteral(": cannot be read: not a regular file"));
}
