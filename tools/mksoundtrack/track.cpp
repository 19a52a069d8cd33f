// Synthesis of the show's sound track. Every sound is rendered note by note
// straight into the mix; plucks, bells, claps and pads also feed an echo and a
// small room. Nothing here depends on the clock, the environment or the
// machine's random state, so two runs give the same samples.
//
// [SECTION] Signal helpers   [SECTION] Instruments   [SECTION] Effects
// [SECTION] Arrangement      [SECTION] Render
#include "track.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>

namespace track {
namespace {

// [SECTION] Signal helpers ---------------------------------------------------

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2 * std::numbers::pi;

long FrameAt(double ms) { return std::lround(ms * kRate / 1000.0); }
// The frame at which a step of a pattern starts (steps may be fractional).
long StepFrame(int pattern, double step) { return FrameAt(pattern * kPatternMs + step * kStepMs); }
long StepFrames(double steps) { return FrameAt(steps * kStepMs); }
double NoteHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }

// Constant-power gains of a position from -1 (left) to 1 (right).
struct Pan {
  explicit Pan(double position)
      : left(std::sqrt(0.5 * (1.0 - position))), right(std::sqrt(0.5 * (1.0 + position))) {}
  double left, right;
};

// White noise in -1..1 from a xorshift generator: the same seed, the same hiss.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed ? seed : 0x9e3779b9u) {}
  double Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<double>(state_ >> 8) * (2.0 / 16777216.0) - 1.0;
  }

 private:
  uint32_t state_;
};

// Band-limited sawtooth (polyBLEP); the phase runs from 0 to 1.
class Saw {
 public:
  explicit Saw(double phase = 0) : phase_(phase) {}
  double Next(double hz) {
    const double dt = hz / kRate;
    double t = phase_;
    phase_ += dt;
    if (phase_ >= 1) phase_ -= 1;
    double v = 2 * t - 1;
    if (t < dt) {
      t /= dt;
      v -= t + t - t * t - 1;
    } else if (t > 1 - dt) {
      t = (t - 1) / dt;
      v -= t * t + t + t + 1;
    }
    return v;
  }

 private:
  double phase_;
};

// Sine oscillator by phase accumulation.
class Sine {
 public:
  double Next(double hz) {
    const double v = std::sin(phase_);
    phase_ += kTwoPi * hz / kRate;
    if (phase_ >= kTwoPi) phase_ -= kTwoPi;
    return v;
  }

 private:
  double phase_ = 0;
};

// Two-pole state-variable filter (trapezoidal integration): low, band and
// high pass at once. Retuning is cheap enough to do every few samples.
class Svf {
 public:
  void Tune(double hz, double q) {
    hz = std::clamp(hz, 20.0, kRate * 0.45);
    const double g = std::tan(kPi * hz / kRate);
    k_ = 1 / q;
    a1_ = 1 / (1 + g * (g + k_));
    a2_ = g * a1_;
    a3_ = g * a2_;
  }
  void Run(double x) {
    const double v3 = x - ic2_;
    const double v1 = a1_ * ic1_ + a2_ * v3;
    const double v2 = ic2_ + a2_ * ic1_ + a3_ * v3;
    ic1_ = 2 * v1 - ic1_;
    ic2_ = 2 * v2 - ic2_;
    low = v2;
    band = v1;
    high = x - k_ * v1 - v2;
  }
  double low = 0, band = 0, high = 0;

 private:
  double k_ = 1, a1_ = 0, a2_ = 0, a3_ = 0, ic1_ = 0, ic2_ = 0;
};

// Raised-cosine rise from 0 to 1 over `length` seconds.
double Rise(double t, double length) {
  if (t >= length) return 1;
  if (t <= 0) return 0;
  return 0.5 - 0.5 * std::cos(kPi * t / length);
}

// The buses every instrument writes to: the dry stereo mix, the echo and room
// sends (mono), and the ducking gain the kicks carve (1 = untouched).
struct Mix {
  explicit Mix(long length)
      : frames(length), left(length), right(length), echo(length), room(length), duck(length, 1.0f) {}
  void Add(long n, double l, double r) {
    left[n] += static_cast<float>(l);
    right[n] += static_cast<float>(r);
  }
  long frames;
  std::vector<float> left, right, echo, room, duck;
};

// Frames an instrument may write from `start` on: its own length cut at the end of the mix.
long Span(const Mix &mix, long start, long length) { return std::clamp(mix.frames - start, 0L, length); }

uint32_t Seed(long start, uint32_t salt) { return static_cast<uint32_t>(start) * 2654435761u ^ salt; }

// [SECTION] Instruments ------------------------------------------------------

// Kick: a sine falling from about 160 Hz to 44 Hz with a click on top, gently
// saturated. It also ducks the pads and the bass for a moment.
void Kick(Mix &mix, long start, double gain, double duck_depth) {
  Noise click(Seed(start, 0x6b69636b));
  Sine body;
  const long length = Span(mix, start, FrameAt(700));
  const double tail = 0.05;
  for (long i = 0; i < length; ++i) {
    const long n = start + i;
    const double t = static_cast<double>(i) / kRate;
    double v = body.Next(44 + 120 * std::exp(-t / 0.03)) * std::exp(-t / 0.16);
    v += 0.25 * click.Next() * std::exp(-t / 0.0015);
    v = std::tanh(1.8 * v) / std::tanh(1.8);
    v *= std::min(1.0, (0.7 - t) / tail);
    mix.Add(n, v * gain, v * gain);
    if (duck_depth > 0)
      mix.duck[n] = std::min(mix.duck[n], static_cast<float>(1 - duck_depth * std::exp(-t / 0.09)));
  }
}

// Clap: band-passed noise in three quick bursts and a short tail, over a
// low body tone.
void Clap(Mix &mix, long start, double gain, double tail_s = 0.11) {
  Noise noise(Seed(start, 0x636c6170));
  Svf band;
  band.Tune(1500, 1.2);
  Sine body;
  const long length = Span(mix, start, FrameAt(1000 * (0.03 + 6 * tail_s)));
  for (long i = 0; i < length; ++i) {
    const long n = start + i;
    const double t = static_cast<double>(i) / kRate;
    double env = 0;
    for (int burst = 0; burst < 3; ++burst) {
      const double tb = t - burst * 0.011;
      if (tb >= 0) env = std::max(env, std::exp(-tb / 0.006));
    }
    if (t >= 0.022) env = std::max(env, 0.7 * std::exp(-(t - 0.022) / tail_s));
    band.Run(noise.Next());
    double v = 1.8 * band.band * env + 0.35 * body.Next(185) * std::exp(-t / 0.05);
    v *= gain;
    mix.Add(n, v, v);
    mix.room[n] += static_cast<float>(0.35 * v);
  }
}

// Hi-hat: high-passed noise with a short (closed) or longer (open) decay.
void Hat(Mix &mix, long start, double gain, double decay_s, double position) {
  Noise noise(Seed(start, 0x68617421));
  Svf high;
  high.Tune(7000, 0.8);
  const Pan pan(position);
  const long length = Span(mix, start, FrameAt(1000 * 6 * decay_s));
  for (long i = 0; i < length; ++i) {
    const double t = static_cast<double>(i) / kRate;
    high.Run(noise.Next());
    const double v = high.high * std::exp(-t / decay_s) * gain;
    mix.Add(start + i, v * pan.left, v * pan.right);
  }
}

// Crash: long high-passed noise, different on each side.
void Crash(Mix &mix, long start, double gain) {
  Noise left_noise(Seed(start, 0x63726131)), right_noise(Seed(start, 0x63726132));
  Svf left_high, right_high;
  left_high.Tune(4500, 0.7);
  right_high.Tune(4700, 0.7);
  const long length = Span(mix, start, FrameAt(3000));
  for (long i = 0; i < length; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double env = std::exp(-t / 0.7) * std::min(1.0, t / 0.002) * gain;
    left_high.Run(left_noise.Next());
    right_high.Run(right_noise.Next());
    mix.Add(start + i, left_high.high * env, right_high.high * env);
    mix.room[start + i] += static_cast<float>(0.15 * (left_high.high + right_high.high) * env);
  }
}

// Bass: two slightly detuned saws through a resonant low-pass whose cutoff
// snaps open at the start of the note, over a sine at the note's pitch.
void Bass(Mix &mix, long start, long hold, int note, double gain, double cutoff, double release_s = 0.04) {
  Saw a(0), b(0.5);
  Sine sub;
  Svf low;
  const double hz = NoteHz(note);
  const long release = FrameAt(1000 * release_s);
  const long length = Span(mix, start, hold + release);
  for (long i = 0; i < length; ++i) {
    const long n = start + i;
    const double t = static_cast<double>(i) / kRate;
    if (i % 16 == 0) low.Tune(cutoff + 4 * cutoff * std::exp(-t / 0.08), 1.4);
    low.Run(0.6 * a.Next(hz) + 0.4 * b.Next(hz * 1.004));
    double env = std::min(1.0, t / 0.004) * (0.75 + 0.25 * std::exp(-t / 0.2));
    if (i >= hold) env *= 1.0 - static_cast<double>(i - hold) / static_cast<double>(release);
    const double v = (0.8 * low.low + 0.6 * sub.Next(hz)) * env * gain * mix.duck[n];
    mix.Add(n, v, v);
  }
}

// Pad: each chord tone as two saws detuned apart, one to each side, through a
// slowly breathing low-pass; a soft swell in and a long fade out.
void Pad(Mix &mix, long start, long hold, std::span<const int> tones, double gain, double cutoff, double attack_s,
         double release_s) {
  constexpr int kMaxTones = 4;
  const int count = std::min(static_cast<int>(tones.size()), kMaxTones);
  std::array<Saw, kMaxTones> left_saws, right_saws;
  std::array<double, kMaxTones> left_hz{}, right_hz{};
  for (int k = 0; k < count; ++k) {
    left_saws[k] = Saw(0.137 * k);
    right_saws[k] = Saw(0.571 + 0.211 * k);
    left_hz[k] = NoteHz(tones[k] - 0.08);
    right_hz[k] = NoteHz(tones[k] + 0.08);
  }
  Svf left_low, right_low;
  const long release = FrameAt(1000 * release_s);
  const long length = Span(mix, start, hold + release);
  for (long i = 0; i < length; ++i) {
    const long n = start + i;
    const double t = static_cast<double>(i) / kRate;
    if (i % 16 == 0) {
      // The breathing follows the track's time, so joined chords breathe as one.
      const double c = cutoff * (1.0 + 0.3 * std::sin(kTwoPi * 0.11 * static_cast<double>(n) / kRate));
      left_low.Tune(c, 0.9);
      right_low.Tune(c * 1.05, 0.9);
    }
    double l = 0, r = 0;
    for (int k = 0; k < count; ++k) {
      l += left_saws[k].Next(left_hz[k]);
      r += right_saws[k].Next(right_hz[k]);
    }
    left_low.Run(l + 0.3 * r);
    right_low.Run(r + 0.3 * l);
    double env = Rise(t, attack_s);
    if (i >= hold) env *= 1.0 - Rise(static_cast<double>(i - hold) / kRate, release_s);
    const double g = env * gain * mix.duck[n] / count;
    mix.Add(n, left_low.low * g, right_low.low * g);
    mix.room[n] += static_cast<float>(0.4 * (left_low.low + right_low.low) * g);
  }
}

// Pluck: a square wave whose low-pass closes fast, for the arpeggio.
void Pluck(Mix &mix, long start, int note, double gain, double position, double brightness) {
  Saw a(0), b(0.5);
  Svf low;
  const double hz = NoteHz(note);
  const Pan pan(position);
  const long length = Span(mix, start, FrameAt(600));
  for (long i = 0; i < length; ++i) {
    const long n = start + i;
    const double t = static_cast<double>(i) / kRate;
    if (i % 16 == 0) low.Tune(400 + brightness * std::exp(-t / 0.06), 1.1);
    low.Run(a.Next(hz) - b.Next(hz));
    double v = low.low * std::min(1.0, t / 0.002) * std::exp(-t / 0.16) * gain;
    v *= std::min(1.0, (0.6 - t) / 0.05);
    mix.Add(n, v * pan.left, v * pan.right);
    mix.echo[n] += static_cast<float>(0.5 * v);
    mix.room[n] += static_cast<float>(0.2 * v);
  }
}

// Bell: two-operator FM (modulator at twice the pitch) whose brightness fades
// after the strike, with a late vibrato.
void Bell(Mix &mix, long start, long hold, int note, double gain) {
  const double hz = NoteHz(note);
  Sine modulator;
  double phase = 0;
  const long release = FrameAt(300);
  const long length = Span(mix, start, hold + release);
  const Pan pan(0.15);
  for (long i = 0; i < length; ++i) {
    const long n = start + i;
    const double t = static_cast<double>(i) / kRate;
    const double index = 1.8 * std::exp(-t / 0.25) + 0.35;
    const double vibrato = 1.0 + 0.004 * std::sin(kTwoPi * 5.2 * t) * std::clamp((t - 0.3) / 0.3, 0.0, 1.0);
    const double v0 = std::sin(phase + index * modulator.Next(2 * hz));
    phase += kTwoPi * hz * vibrato / kRate;
    if (phase >= kTwoPi) phase -= kTwoPi;
    double env = std::min(1.0, t / 0.006) * (0.35 + 0.65 * std::exp(-t / 0.5));
    if (i >= hold) env *= std::exp(-static_cast<double>(i - hold) / kRate / 0.06);
    env *= std::min(1.0, static_cast<double>(length - i) / 64.0);
    const double v = v0 * env * gain;
    mix.Add(n, v * pan.left, v * pan.right);
    mix.echo[n] += static_cast<float>(0.35 * v);
    mix.room[n] += static_cast<float>(0.3 * v);
  }
}

// [SECTION] Effects ----------------------------------------------------------

// Ping-pong echo of the echo send: the first repeat on the left, the next on
// the right, each a little darker.
void Echo(Mix &mix, double delay_ms, double feedback, double wet) {
  const long delay = FrameAt(delay_ms);
  std::vector<float> left_line(delay), right_line(delay);
  Svf left_damp, right_damp;
  left_damp.Tune(3500, 0.7);
  right_damp.Tune(3500, 0.7);
  long pos = 0;
  for (long n = 0; n < mix.frames; ++n) {
    const double l = left_line[pos], r = right_line[pos];
    left_damp.Run(l);
    right_damp.Run(r);
    left_line[pos] = static_cast<float>(mix.echo[n] + feedback * right_damp.low);
    right_line[pos] = static_cast<float>(feedback * left_damp.low);
    if (++pos == delay) pos = 0;
    mix.Add(n, wet * l, wet * r);
  }
}

// A small room: parallel damped combs into two all-passes, per side.
class Room {
 public:
  explicit Room(int spread) {
    constexpr std::array<int, 6> kCombs{1116, 1188, 1277, 1356, 1422, 1491};
    constexpr std::array<int, 2> kAllpasses{556, 441};
    for (size_t k = 0; k < kCombs.size(); ++k) combs_[k].line.assign(kCombs[k] + spread, 0.0f);
    for (size_t k = 0; k < kAllpasses.size(); ++k) allpasses_[k].line.assign(kAllpasses[k] + spread, 0.0f);
  }
  double Run(double x) {
    double out = 0;
    for (Comb &c : combs_) {
      const double y = c.line[c.pos];
      c.store = y * 0.7 + c.store * 0.3;
      c.line[c.pos] = static_cast<float>(x + c.store * 0.8);
      if (++c.pos == c.line.size()) c.pos = 0;
      out += y;
    }
    for (Allpass &a : allpasses_) {
      const double b = a.line[a.pos];
      a.line[a.pos] = static_cast<float>(out + b * 0.5);
      if (++a.pos == a.line.size()) a.pos = 0;
      out = b - out;
    }
    return out;
  }

 private:
  struct Comb {
    std::vector<float> line;
    size_t pos = 0;
    double store = 0;
  };
  struct Allpass {
    std::vector<float> line;
    size_t pos = 0;
  };
  std::array<Comb, 6> combs_;
  std::array<Allpass, 2> allpasses_;
};

void Reverb(Mix &mix, double wet) {
  Room left(0), right(23);
  for (long n = 0; n < mix.frames; ++n) {
    const double x = mix.room[n] * 0.02;
    mix.Add(n, wet * left.Run(x), wet * right.Run(x));
  }
}

// [SECTION] Arrangement ------------------------------------------------------

struct Chord {
  int root;                  // bass note
  std::array<int, 4> tones;  // pad voicing; the arpeggio plays it an octave up
};

constexpr Chord kAm{33, {57, 60, 64, 67}};
constexpr Chord kF{29, {53, 57, 60, 64}};
constexpr Chord kC{36, {55, 60, 64, 67}};
constexpr Chord kG{31, {55, 59, 62, 67}};
constexpr Chord kEm{28, {55, 59, 62, 64}};
constexpr Chord kAmOpen{33, {57, 60, 64, 69}};

// Four bars to a pattern: the main turn, the lift of the blur patterns and the close.
constexpr std::array<const Chord *, 4> kMainTurn{&kAm, &kF, &kC, &kG};
constexpr std::array<const Chord *, 4> kLiftTurn{&kF, &kG, &kEm, &kAmOpen};
constexpr std::array<const Chord *, 4> kCloseTurn{&kF, &kG, &kAm, &kAm};

enum class Bassline { kNone, kLong, kBounce, kDrive, kHeld };

struct Note {
  int bar;
  double step;
  int note;
  double length;  // steps
};

// The bell's tunes over the main turn and over the lift.
constexpr std::array<Note, 15> kMainTune{{
    {0, 0, 76, 6}, {0, 6, 74, 2}, {0, 8, 72, 4}, {0, 12, 69, 4},
    {1, 0, 72, 6}, {1, 6, 69, 2}, {1, 8, 65, 8},
    {2, 0, 67, 6}, {2, 6, 72, 2}, {2, 8, 76, 4}, {2, 12, 74, 4},
    {3, 0, 74, 8}, {3, 8, 71, 4}, {3, 12, 67, 4}, {3, 15, 71, 1},
}};
constexpr std::array<Note, 12> kLiftTune{{
    {0, 0, 72, 8}, {0, 8, 69, 4}, {0, 12, 72, 4},
    {1, 0, 74, 8}, {1, 8, 71, 4}, {1, 12, 74, 4},
    {2, 0, 76, 12}, {2, 12, 74, 4},
    {3, 0, 72, 6}, {3, 6, 71, 2}, {3, 8, 69, 6}, {3, 14, 71, 2},
}};

// One pattern's arrangement: which parts play and how.
struct Section {
  const std::array<const Chord *, 4> *turn;
  bool flash_kicks_only;  // kicks only where the picture flashes
  double kick;            // kick level (0: none)
  double duck;            // how deep each kick ducks the pads and the bass
  double clap;            // clap level on every flash
  double hats;            // open hats on the off-beats
  double ticks;           // closed hats between
  double shimmer;         // quiet hats on every odd step
  Bassline bass;
  double bass_cutoff;
  int arp_every;  // steps between arpeggio notes (0: none)
  double arp_level;
  double arp_brightness;
  double pad_level;
  double pad_cutoff;
  int tune;      // 0 none, 1 main tune, 2 lift tune, 3 main tune doubled below
  double crash;  // crash at the pattern's start (0: none)
  bool roll;     // clap roll through the last bar
};

// Pattern by pattern, in step with the picture: the intro flashes alone; the
// background brings bass and hats; the rotozoomer and its white flash the
// claps and the arpeggio; the bars the tune; the blur patterns a darker turn
// that pumps with the flash; the tiled patterns the peak; the end a close.
// clang-format off
constexpr std::array<Section, kPatterns> kSections{{
  // turn         flash  kick  duck  clap  hats  ticks shim   bass               cut  arp level bright pad   padcut tune crash roll
    {&kMainTurn,  true,  0.75, 0.0,  0.0,  0.0,  0.0,  0.0,   Bassline::kNone,   0,   0,  0,    0,     0.57, 700,   0,   0.18, false},
    {&kMainTurn,  false, 0.9,  0.3,  0.0,  0.18, 0.0,  0.0,   Bassline::kLong,   220, 0,  0,    0,     0.53, 900,   0,   0,    false},
    {&kMainTurn,  false, 0.9,  0.3,  0.4,  0.18, 0.0,  0.0,   Bassline::kBounce, 300, 2,  0.2,  1500,  0.49, 1100,  0,   0.3,  false},
    {&kMainTurn,  false, 0.9,  0.3,  0.4,  0.18, 0.07, 0.0,   Bassline::kBounce, 380, 2,  0.2,  2000,  0.49, 1200,  0,   0.3,  false},
    {&kMainTurn,  false, 0.9,  0.3,  0.4,  0.18, 0.07, 0.0,   Bassline::kBounce, 450, 2,  0.18, 2500,  0.47, 1300,  1,   0,    false},
    {&kMainTurn,  false, 0.9,  0.35, 0.4,  0.18, 0.07, 0.035, Bassline::kBounce, 520, 1,  0.15, 2500,  0.47, 1500,  1,   0,    false},
    {&kMainTurn,  false, 0.9,  0.35, 0.4,  0.18, 0.07, 0.035, Bassline::kBounce, 600, 1,  0.15, 3000,  0.47, 1600,  1,   0,    true},
    {&kLiftTurn,  false, 0.95, 0.55, 0.45, 0.19, 0.07, 0.035, Bassline::kDrive,  650, 2,  0.2,  3000,  0.51, 2000,  2,   0.3,  false},
    {&kLiftTurn,  false, 0.95, 0.55, 0.45, 0.19, 0.07, 0.035, Bassline::kDrive,  700, 2,  0.2,  3500,  0.51, 2100,  2,   0,    true},
    {&kMainTurn,  false, 0.95, 0.45, 0.45, 0.19, 0.08, 0.04,  Bassline::kBounce, 750, 1,  0.17, 3500,  0.49, 2200,  3,   0.3,  false},
    {&kMainTurn,  false, 0.95, 0.45, 0.45, 0.19, 0.08, 0.04,  Bassline::kBounce, 800, 1,  0.17, 4000,  0.49, 2400,  3,   0,    true},
    {&kCloseTurn, false, 0.0,  0.0,  0.0,  0.0,  0.0,  0.0,   Bassline::kHeld,   400, 4,  0.14, 1500,  0.57, 1200,  0,   0.4,  false},
    {&kCloseTurn, false, 0.0,  0.0,  0.0,  0.0,  0.0,  0.0,   Bassline::kHeld,   300, 8,  0.09, 1000,  0.57, 800,   0,   0,    false},
}};
// clang-format on

constexpr bool IsFlashStep(int step) { return step % kStepsPerBar == 8; }

const Chord &ChordAt(int pattern, int bar) {
  // The very end holds the close's last chord.
  if (pattern == kPatterns - 1) return *kCloseTurn.back();
  return *(*kSections[pattern].turn)[bar];
}

void PlayDrums(Mix &mix, int p, const Section &s) {
  if (s.crash > 0) Crash(mix, StepFrame(p, 0), s.crash);
  for (int step = 0; step < kStepsPerPattern; ++step) {
    const long at = StepFrame(p, step);
    const int beat = step % kStepsPerBar;
    const bool last_bar = step >= kStepsPerPattern - kStepsPerBar;
    if (s.kick > 0 && (IsFlashStep(step) || (!s.flash_kicks_only && beat == 0))) Kick(mix, at, s.kick, s.duck);
    if (s.roll && last_bar) {
      // Every other step, then every step for the last four, growing into the next pattern.
      const int into = step - (kStepsPerPattern - kStepsPerBar);
      if (into >= 12 || into % 2 == 0) Clap(mix, at, 0.12 + 0.33 * into / 15.0, 0.05);
    } else if (s.clap > 0 && IsFlashStep(step)) {
      Clap(mix, at, s.clap);
    }
    if (s.hats > 0 && step % 8 == 4) Hat(mix, at, s.hats, 0.09, 0.3);
    if (s.ticks > 0 && step % 4 == 2) Hat(mix, at, s.ticks, 0.025, -0.3);
    if (s.shimmer > 0 && step % 2 == 1) Hat(mix, at, s.shimmer, 0.015, 0.5 * ((step % 4) - 2));
  }
}

void PlayBass(Mix &mix, int p, const Section &s) {
  struct Hit {
    double step;
    int interval;
    double length;
  };
  constexpr std::array<Hit, 4> kLong{{{0, 0, 6}, {6, 0, 2}, {8, 0, 6}, {14, 0, 2}}};
  constexpr std::array<Hit, 8> kBounce{
      {{0, 0, 1.5}, {2, 12, 1}, {3, 0, 1.5}, {6, 0, 1.5}, {8, 0, 1.5}, {10, 12, 1}, {11, 7, 1.5}, {14, 0, 1.5}}};
  constexpr std::array<Hit, 8> kDrive{
      {{0, 0, 1.6}, {2, 0, 1.6}, {4, 0, 1.6}, {6, 12, 1.6}, {8, 0, 1.6}, {10, 0, 1.6}, {12, 7, 1.6}, {14, 12, 1.6}}};
  std::span<const Hit> figure;
  switch (s.bass) {
    case Bassline::kNone:
      return;
    case Bassline::kLong:
      figure = kLong;
      break;
    case Bassline::kBounce:
      figure = kBounce;
      break;
    case Bassline::kDrive:
      figure = kDrive;
      break;
    case Bassline::kHeld:
      if (p == kPatterns - 1) {
        // The last root rings out under the closing chord.
        Bass(mix, StepFrame(p, 0), StepFrames(56), ChordAt(p, 0).root, 0.4, s.bass_cutoff, 0.4);
        return;
      }
      for (int bar = 0; bar < 4; ++bar)
        Bass(mix, StepFrame(p, bar * kStepsPerBar), StepFrames(15.5), ChordAt(p, bar).root, 0.4, s.bass_cutoff);
      return;
  }
  for (int bar = 0; bar < 4; ++bar) {
    const int root = ChordAt(p, bar).root;
    for (const Hit &h : figure)
      Bass(mix, StepFrame(p, bar * kStepsPerBar + h.step), StepFrames(h.length), root + h.interval, 0.4,
           s.bass_cutoff);
  }
}

void PlayArpeggio(Mix &mix, int p, const Section &s) {
  if (s.arp_every <= 0) return;
  // Up and down the chord an octave above the pad, with the root on top.
  constexpr std::array<int, 8> kOrder{0, 1, 2, 3, 4, 3, 2, 1};
  int count = 0;
  for (int step = 0; step < kStepsPerPattern; step += s.arp_every, ++count) {
    // The close thins out and fades away in its second half.
    if (p == kPatterns - 1 && step >= kStepsPerPattern / 2) break;
    const Chord &chord = ChordAt(p, step / kStepsPerBar);
    const int index = kOrder[count % kOrder.size()];
    const int note = index < 4 ? chord.tones[index] + 12 : chord.tones[0] + 24;
    double level = s.arp_level;
    if (p == kPatterns - 2) level *= 1.0 - 0.6 * step / kStepsPerPattern;
    Pluck(mix, StepFrame(p, step), note, level, count % 2 ? 0.6 : -0.6, s.arp_brightness);
  }
}

void PlayTune(Mix &mix, int p, const Section &s) {
  std::span<const Note> tune;
  if (s.tune == 1 || s.tune == 3) tune = kMainTune;
  if (s.tune == 2) tune = kLiftTune;
  for (const Note &n : tune) {
    const long at = StepFrame(p, n.bar * kStepsPerBar + n.step);
    Bell(mix, at, StepFrames(n.length), n.note, 0.2);
    if (s.tune == 3) Bell(mix, at, StepFrames(n.length), n.note - 12, 0.1);
  }
  if (p == kPatterns - 1) {
    // Two last strikes over the closing chord.
    Bell(mix, StepFrame(p, 0), StepFrames(24), 81, 0.15);
    Bell(mix, StepFrame(p, 24), StepFrames(24), 76, 0.1);
  }
}

// Pads change with every bar's chord; a chord that stays joins its
// predecessor, so the close swells once and then only fades.
void PlayPads(Mix &mix) {
  struct Held {
    const Chord *chord = nullptr;
    int pattern = 0, bar = 0, bars = 0;
  } held;
  auto play = [&](const Held &h) {
    const Section &s = kSections[h.pattern];
    const bool first = h.pattern == 0 && h.bar == 0;
    const bool last = h.pattern + (h.bar + h.bars - 1) / 4 >= kPatterns - 1;
    Pad(mix, StepFrame(h.pattern, h.bar * kStepsPerBar), StepFrames(h.bars * kStepsPerBar), h.chord->tones,
        s.pad_level, s.pad_cutoff, first ? 2.5 : 0.3, last ? 1.0 : 0.5);
  };
  for (int p = 0; p < kPatterns; ++p) {
    for (int bar = 0; bar < 4; ++bar) {
      const Chord *chord = &ChordAt(p, bar);
      if (held.chord == chord) {
        ++held.bars;
        continue;
      }
      if (held.chord) play(held);
      held = {chord, p, bar, 1};
    }
  }
  play(held);
}

// [SECTION] Render -----------------------------------------------------------

}  // namespace

Stereo Render() {
  const long frames = FrameAt(kLengthMs);
  Mix mix(frames);
  // Kicks first: they carve the ducking that the pads and the bass read.
  for (int p = 0; p < kPatterns; ++p) PlayDrums(mix, p, kSections[p]);
  for (int p = 0; p < kPatterns; ++p) {
    PlayBass(mix, p, kSections[p]);
    PlayArpeggio(mix, p, kSections[p]);
    PlayTune(mix, p, kSections[p]);
  }
  PlayPads(mix);
  Echo(mix, 3 * kStepMs, 0.45, 0.5);
  Reverb(mix, 0.6);

  // Master: DC blocked, gently saturated, faded out before the end, and
  // scaled to peak just below full scale.
  const long fade_from = FrameAt(66000), fade_to = FrameAt(67250);
  double dc_in[2] = {0, 0}, dc_out[2] = {0, 0};
  double peak = 1e-9;
  for (long n = 0; n < frames; ++n) {
    float *sides[2] = {&mix.left[n], &mix.right[n]};
    double gain = 1.0;
    if (n >= fade_to)
      gain = 0.0;
    else if (n > fade_from)  // Rise only needs both in the same unit: frames here
      gain = 1.0 - Rise(static_cast<double>(n - fade_from), static_cast<double>(fade_to - fade_from));
    for (int c = 0; c < 2; ++c) {
      const double x = *sides[c];
      dc_out[c] = x - dc_in[c] + 0.9995 * dc_out[c];
      dc_in[c] = x;
      const double y = std::tanh(0.9 * dc_out[c]) * gain;
      *sides[c] = static_cast<float>(y);
      peak = std::max(peak, std::abs(y));
    }
  }
  const float scale = static_cast<float>(0.89 / peak);
  Stereo out;
  out.left = std::move(mix.left);
  out.right = std::move(mix.right);
  for (long n = 0; n < frames; ++n) {
    out.left[n] *= scale;
    out.right[n] *= scale;
  }
  return out;
}

}  // namespace track
