#include "agent/character_file.h"
#include "support/qt_print.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace agent;

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

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }
LoadResult parse(const QByteArray& text) { return parseCharacter(text, QStringLiteral("dot.ochar")); }
LoadResult parse(const QJsonObject& o) { return parse(compact(o)); }

QJsonObject with(QJsonObject o, const QString& key, const QJsonValue& v) {
  o[key] = v;
  return o;
}

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

QJsonObject withBodyShape(const QJsonObject& shape) {
  return withPart(minimal(), 0, [&](QJsonObject& body) { body[QStringLiteral("shapes")] = QJsonArray{shape}; });
}

QJsonObject withVoice(int formants) {
  return with(minimal(), "voice", QJsonObject{{"name", "en-us"}, {"rate", 170}, {"pitch", 50}, {"formants", formants}});
}

}  // namespace

TEST(AgentCharacterFile, MinimalCharacterLoads) {
  const LoadResult r = parse(minimal());
  ASSERT_TRUE(r.value()) << r.error().toStdString();
  const CharacterDefinition& c = *r.value();
  EXPECT_EQ(c.name, "Dot");
  EXPECT_EQ(c.parts[1].parent, 0);
  EXPECT_EQ(c.findAnimation(QStringLiteral("hOP")), &c.animations[0]);
  EXPECT_EQ(c.findAnimation(QStringLiteral(" Hop ")), &c.animations[0]);
  EXPECT_EQ(c.findAnimation(QStringLiteral("None")), nullptr);
  EXPECT_DOUBLE_EQ(c.animations[0].frames[0].pose[0].dy, -4);
  EXPECT_EQ(c.animations[0].frames[1].sound, 0);
  EXPECT_EQ(c.sounds[0].pcm.size(), 300 * 22050 / 1000 * 2);
  // Written before the formants could be placed: the voice's own.
  EXPECT_EQ(c.voice.formants, 100);
  // Every SVG path command is read.
  EXPECT_TRUE(parse(withBodyShape(QJsonObject{{"path",
                                               "M10,10 h10 v10 H10 V12 l2,2 c1,1 2,2 3,3 s1,1 2,2 q1,1 2,2 t2,2 a5,5 0 "
                                               "0 1 5,5 A3,4 20 1 0 30,30 z m1,1 L2,2Z"},
                                              {"fill", "red"}}))
                  .value());
}

TEST(AgentCharacterFile, LoaderNamesTheFileAndTheFault) {
  const auto parent = [](int part, const char* name) {
    return withPart(minimal(), part, [name](QJsonObject& p) { p[QStringLiteral("parent")] = name; });
  };
  const std::pair<QJsonObject, const char*> cases[] = {
      {with(minimal(), "format", "agent"), "format: not an Olm Chimewise character file"},
      {with(minimal(), "version", 2), "version: version 2 is not supported"},
      {with(minimal(), "width", 0), "width: 0 is outside 16 to 2048"},
      {with(minimal(), "voice", QJsonObject{{"name", "en-us"}, {"rate", 170}}), "voice.pitch: missing"},
      {withVoice(121), "voice.formants: 121 is outside 80 to 120"},
      {with(minimal(), "voice", QJsonObject{{"name", "en-us"}, {"rate", 170}, {"pitch", 50}, {"formants", 92.5}}),
       "voice.formants: must be a whole number"},
      {withBodyShape(QJsonObject{{"path", "M0,0 X5,5"}, {"fill", "red"}}),
       "parts[0].shapes[0].path: unknown path command 'X'"},
      {parent(1, "nose"), "parts[1].parent: no part named \"nose\""},
      {parent(0, "mouth"), "parts form a loop"},
      {edited(minimal(), "mouth",
              [](QJsonObject& m) {
                m[QStringLiteral("shapes")] = QJsonObject{
                    {"closed", ""}, {"open", "open"}, {"wide", "open"}, {"round", "round"}, {"teeth", "round"}};
              }),
       "mouth.shapes: lip-sync needs at least four different mouth shapes"},
      {with(
           minimal(), "animations",
           QJsonObject{{"Hop", QJsonObject{{"frames", QJsonArray{QJsonObject{{"pose", "down"}, {"duration", 100}}}}}}}),
       "animations.Hop.frames[0].pose: no pose named \"down\""},
      {edited(minimal(), "animations", [](QJsonObject& a) { a.insert(QStringLiteral("HOP"), a.value("Hop")); }),
       "another animation has the same name in a different letter case"},
      {with(minimal(), "poses", QJsonObject{{"up", QJsonObject{{"body", QJsonObject{{"spin", 3}}}}}}),
       "poses.up.body.spin: unknown property"},
      {edited(minimal(), "idle", [](QJsonObject& idle) { idle[QStringLiteral("sleep")] = "Hop"; }),
       "idle.sleep: the sleep animation must loop"},
      {withBodyShape(QJsonObject{{"fill", "red"}}), "parts[0].shapes[0]: needs exactly one of path, ellipse, rect"},
      {with(minimal(), "parts", QJsonArray{}), "parts: a character needs at least one part"},
      {with(minimal(), "poses",
            QJsonObject{{"up", QJsonObject{{"base", "high"}}}, {"high", QJsonObject{{"base", "up"}}}}),
       "poses.high: poses build on each other in a loop"},
  };
  for (const auto& [doc, expected] : cases) {
    const LoadResult r = parse(doc);
    EXPECT_FALSE(r.value()) << expected;
    EXPECT_TRUE(r.error().startsWith(QStringLiteral("dot.ochar: "))) << r.error().toStdString();
    EXPECT_TRUE(r.error().contains(QString::fromUtf8(expected)))
        << "wanted: " << expected << "\n got: " << r.error().toStdString();
  }
}

TEST(AgentCharacterFile, CutOrDamagedFilesAreRejectedWithTheirName) {
  // Every prefix of a real character file is rejected with a message.
  QFile hoot(assets() + QStringLiteral("Hoot.ochar"));
  ASSERT_TRUE(hoot.open(QIODevice::ReadOnly));
  const QByteArray all = hoot.readAll();
  for (qsizetype n = 0; n < all.size(); n += all.size() / 97 + 1) {
    const LoadResult part = parseCharacter(all.left(n), QStringLiteral("Hoot.ochar"));
    EXPECT_FALSE(part.value());
    EXPECT_FALSE(part.error().isEmpty());
  }
  // Flipped bytes never crash the loader; what it refuses names the file.
  QFile bolt(assets() + QStringLiteral("Bolt.ochar"));
  ASSERT_TRUE(bolt.open(QIODevice::ReadOnly));
  const QByteArray original = bolt.readAll();
  quint32 seed = 99;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  int rejected = 0;
  for (int i = 0; i < 150; ++i) {
    QByteArray damaged = original;
    for (int k = 0; k < 3; ++k) damaged[qsizetype(next() % quint32(damaged.size()))] = char(next() & 0xff);
    const LoadResult d = parseCharacter(damaged, QStringLiteral("Bolt.ochar"));
    if (d.value()) continue;
    ++rejected;
    EXPECT_TRUE(d.error().startsWith(QStringLiteral("Bolt.ochar: "))) << d.error().toStdString();
  }
  EXPECT_GT(rejected, 50);
}

namespace {

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
  EXPECT_FALSE(r.value());
  EXPECT_TRUE(r.error().startsWith(QStringLiteral("dot.ochar: poses: 70000 poses; the limit is")))
      << r.error().toStdString();
  // A chain as long as a character may have resolves from its foot to its top.
  r = parse(withMember(noPoses, "poses", poseChain(CharacterLimits::kMaxPoses)));
  ASSERT_TRUE(r.value()) << r.error().toStdString();
  EXPECT_DOUBLE_EQ(r.value()->findAnimation(QStringLiteral("Hop"))->frames[0].pose[0].dy, -7);
  // JSON nested deeper than any character needs is refused by the JSON reader itself.
  r = parse(withMember(minimal(), "deep", QByteArray(100'000, '[') + QByteArray(100'000, ']')));
  EXPECT_TRUE(r.error().startsWith(QStringLiteral("dot.ochar: line 1: not valid JSON"))) << r.error().toStdString();
  EXPECT_EQ(r.failure().kind, FailureKind::Damaged);
}

TEST(AgentCharacterFile, EachBoundTakesItsLimitAndRefusesOneMore) {
  using L = CharacterLimits;
  // The outline points of the minimal character, but for its "wide" mouth, which the table fills up.
  const LoadResult dot = parse(minimal());
  ASSERT_TRUE(dot.value()) << dot.error().toStdString();
  const int wide = 3;  // variants of a part are in name order, after its own shapes: open, round, wide
  ASSERT_EQ(dot.value()->parts[1].variantNames[wide], "wide");
  const int others = outlinePoints(*dot.value()) - dot.value()->parts[1].variants[wide][0].path.elementCount();
  static_assert(L::kMaxPartStates % 400 == 0);
  const auto inSounds = [](const std::function<void(QJsonObject&)>& edit) {
    return edited(minimal(), QStringLiteral("sounds"), edit);
  };
  const auto inAnimations = [](QJsonObject o, const std::function<void(QJsonObject&)>& edit) {
    return edited(std::move(o), QStringLiteral("animations"), edit);
  };

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
       [&](int n) {
         return inAnimations(minimal(), [n](QJsonObject& anims) {
           for (int i = 2; i < n; ++i)
             anims.insert(QStringLiteral("A%1").arg(i),
                          QJsonObject{{"frames", QJsonArray{QJsonObject{{"duration", 1}}}}});
         });
       }},
      {"animations.Walk.frames", L::kMaxFramesPerAnimation,
       [&](int n) {
         return inAnimations(minimal(), [n](QJsonObject& anims) {
           anims.insert(QStringLiteral("Walk"), QJsonObject{{"frames", repeated(QJsonObject{{"duration", 1}}, n)}});
         });
       }},
      // 400 parts in the rest pose, the one named pose, three frames and the walk's; one frame more is over.
      {"animations.Walk.frames", L::kMaxPartStates,
       [&](int n) {
         const int walk = (n + 399) / 400 - 5;
         return inAnimations(withParts(minimal(), 400), [walk](QJsonObject& anims) {
           anims.insert(QStringLiteral("Walk"), QJsonObject{{"frames", repeated(QJsonObject{{"duration", 1}}, walk)}});
         });
       }},
      {"sounds", L::kMaxSounds,
       [&](int n) {
         return inSounds([n](QJsonObject& sounds) {
           for (int i = 1; i < n; ++i)
             sounds.insert(QStringLiteral("a%1").arg(i), QJsonObject{{"durationMs", 1}, {"layers", QJsonArray{}}});
         });
       }},
      // Ten-second sounds and a snore that makes up the rest.
      {"sounds.snore.durationMs", L::kMaxSoundMs,
       [&](int n) {
         return inSounds([n](QJsonObject& sounds) {
           const int full = (n - 1) / 10'000;
           for (int i = 0; i < full; ++i)
             sounds.insert(QStringLiteral("a%1").arg(i), QJsonObject{{"durationMs", 10'000}, {"layers", QJsonArray{}}});
           sounds[QStringLiteral("snore")] = QJsonObject{{"durationMs", n - full * 10'000}, {"layers", QJsonArray{}}};
         });
       }},
      {"sounds.snore.layers", L::kMaxSoundLayerMs,
       [&](int n) {
         return inSounds([n](QJsonObject& sounds) {
           const int layers = (n - 1) / 10'000;
           const QJsonObject noise{{"wave", "noise"}};
           sounds.insert(QStringLiteral("a"), QJsonObject{{"durationMs", 10'000}, {"layers", repeated(noise, layers)}});
           sounds[QStringLiteral("snore")] =
               QJsonObject{{"durationMs", n - layers * 10'000}, {"layers", QJsonArray{noise}}};
         });
       }},
      {"sounds.snore.layers[0].envelope", L::kMaxEnvelopePoints,
       [&](int n) {
         return inSounds([n](QJsonObject& sounds) {
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
    const LoadResult atLimit = parse(b.make(b.limit));
    EXPECT_TRUE(atLimit.value()) << atLimit.error().toStdString();
    const QString over = parse(b.make(b.limit + 1)).error();
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
  EXPECT_TRUE(r.value()) << r.error().toStdString();
  EXPECT_EQ(r.failure(), Failure{});
  const QString over = write(QStringLiteral("over.ochar"), CharacterLimits::kMaxFileBytes + 1);
  EXPECT_EQ(loadCharacterFile(over).failure().kind, FailureKind::Damaged);
  EXPECT_EQ(loadCharacterFile(over).error(),
            over + QStringLiteral(": too large to be a character file (%1 bytes; the limit is %2)")
                       .arg(CharacterLimits::kMaxFileBytes + 1)
                       .arg(CharacterLimits::kMaxFileBytes));
  r = loadCharacterFile(dir.path());
  EXPECT_EQ(r.failure().kind, FailureKind::Unreadable);
  EXPECT_TRUE(r.error().startsWith(dir.path() + QStringLiteral(": cannot be read"))) << r.error().toStdString();

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
  EXPECT_EQ(r.error(), pipe + QStringLiteral(": cannot be read: not a regular file"));
}
