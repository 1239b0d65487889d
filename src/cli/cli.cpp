#include "cli/cli.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "quillmere_version.h"

namespace qm::cli {

namespace {

constexpr std::string_view kUsage = R"(Usage: quillmere-cli COMMAND [OPTIONS]

Commands:
  info FILE.qmattr|FILE.qmscene|IMAGE.png [--seed S] [--scene]
      Loads an attractor file, a scene file or the scene a PNG image carries and prints
      its kind, its parameters and the search's estimates on them (Lyapunov exponent,
      correlation dimension) as "key: value" lines; for a scene also its render mode,
      size and counts (render.*), for an image its software and description texts.
      S seeds the random generator (default: the current time); it matters for IFS,
      whose chaos game is seeded on loading, and for the dimension's random pairs.
      --scene prints the scene's text instead, as a .qmscene file holds it.

  search --kind KIND --out DIR [--option N] [--count K] [--randomness P]
         [--max-trials T] [--seed S] [--threads J]
      Searches at random for chaotic parameter sets and writes each one found as
      DIR/NNNN.qmattr, numbered on after the highest NNNN.qmattr already in DIR (no
      file is ever replaced). KIND is a file keyword (icon, ifs, julia, lorenz,
      lorenz_84, pickover, polynomial_a, polynomial_b, polynomial_c, polynomial_sprott, unravel)
      or a kind code 0 to 10. N is the number of IFS maps (2 to 8, default 4) or the
      Sprott polynomial order (2 to 5, default 2). K sets to find (default 1); P the
      randomness in percent, 1 to 100 (default 100); T the budget of trials in all
      (default 100000); S the seed (default: the current time); J threads (default 1).
      Thread i seeds its generator with S + i and runs T / J trials (the first T mod J
      threads one more), so a run is repeatable for the same S and J. When the budget
      runs out first, standard error says how many were found.

  gallery --kind KIND --count C --out DIR [--option N] [--mode M] [--thumb WxH]
          [--min-score X] [--randomness P] [--iterations I] [--max-trials T] [--seed S]
          [--threads J]
      Searches as "search" does, on J threads (default: every core) at lowered
      priority, and writes each find as a scene DIR/NNNN.qmscene with its thumbnail
      DIR/NNNN.png (WxH, default 200x150, 16 to 2048 per side; I iterations, default
      300000, fitted, in mode M, default Lumière), numbered on after the highest number
      in DIR (no file is ever replaced). The scene is the find in the thumbnail's mode
      and framing, 640 pixels wide. KIND is as for "search", or "all" for every
      kind in turn. A find is kept when its score reaches X (0 to 1, default 0): the
      square root of the fraction of the frame it covers times the variety of its
      density (the spread of the log density's histogram). Then DIR/sheet.png (a grid of
      the thumbnails with kind, Lyapunov exponent, dimension and score under each) and
      DIR/index.html (the same grid, linking the files) are rewritten to show every
      find in DIR. The finds depend on S alone (64 search lanes, each seeded from S
      and its index): the same S writes the same files into an empty folder whatever
      J is. Exit status 0 when C finds were written, 1 when T trials (default 1000000)
      ran out first, 3 when a file cannot be written, 4 when memory runs out.

  render FILE.qmattr -o OUT.bmp|OUT.png|- [--format png|bmp] [--mode M] [--size WxH]
         [--iterations N] [--updates U] [--seed S] [--scale X] [--rotate DX,DY]
         [--pan X,Y] [--luminosity L] [--gamma G] [--opacity O] [--roughness R]
         [--speed-map F] [--angle-map F] [--builtin-gradients] [--streams S]
         [--threads T] [--render-seed R]
         [--checkpoint FILE [--checkpoint-every SECONDS]] [--depth 8|16]
         [--quiet] [--state FILE [--shard I/K]] [--resources]
      Renders the attractor of FILE as the program does after "Nouveau" in mode M and
      size WxH, "Ouvrir..." of FILE (the view fitted) and a complete "Démarrer".
      M is Gaz, Liquide, Lumière (or lumiere), Plasma, Solide, or 0 to 4 (default Gaz);
      WxH from 16 to 16384 per side (default 640x480); N iterations (more than
      the 1000 of the unplotted transient, up to 10^15, default 20000000) with U image updates (1 to 100, default 10). The render runs as
      S independent orbits (1 to 256, default 16; 1 is the classic single-orbit render)
      on T threads (1 to 256, default: every processor this process may use); the image
      depends on S and on the render seed R (default 0, unused with one orbit), never
      on T. --scale replaces the fitted zoom,
      --rotate makes one mouse drag of DX,DY pixels, --pan sets the view's pan (the
      pan_x and pan_y it prints); --luminosity and --gamma (Gaz, Liquide, Lumière,
      Plasma), --gamma, --opacity and --roughness (Solide) set the mode's parameters.
      Lumière and Plasma colour with speed.map and angle.map beside the program, else
      in ../share/quillmere or the XDG data folders (else the built-in ramps), or with
      the maps given. Prints the image size, the iterations, the threads, the streams,
      the speed, the view and the seeds as "key: value" lines; progress goes
      to standard error when it is a terminal (--quiet silences it). A divergence keeps
      and writes the image so far and reports it.
      The output's extension gives its format, or --format does; "-o -" writes the
      image to standard output (--format then required) and the "key: value" lines to
      standard error. Only a regular file is replaced: an output that is a folder, a
      device, a pipe or a socket is refused and left alone. A map gives at most 4096
      colours.
      --checkpoint saves the render's state to FILE (a .qmrender file) as it goes,
      every SECONDS (default 300, from 0.01), each time replacing the file whole; on
      SIGINT or SIGTERM the render stops after its current round, saves its state
      once more and exits 130 or 143 without writing the image.
      --state FILE writes the render's state to FILE at the end in place of the image
      (no -o then); with --shard I/K (K from 1 to S, --seed required) only the orbits
      k with k mod K = I run, each exactly as in the whole render, and FILE is that
      part of the render for merge. Given --checkpoint too, a part that was stopped or
      killed goes on from its checkpoint when the same command runs again.
      --resources prints, without rendering, the memory a shard and the merge of K
      parts need for the mode and size (part_bytes, shard_memory_mib, merge_memory_mib).

  resume FILE.qmrender -o OUT.bmp|OUT.png|- [--format png|bmp] [--threads T]
         [--checkpoint-every SECONDS] [--quiet]
      Continues a render saved with --checkpoint to its end and writes the image the
      render would have written had it never stopped, on any number of threads T. The
      state keeps going to FILE as with --checkpoint (every SECONDS, by default as the
      render chose, and on SIGINT or SIGTERM). Prints what render prints and
      resumed_from, the iterations done before; -o and --format as for render. A
      truncated, damaged or unknown state file exits 2, one too large for this
      machine's memory exits 4; nothing is overwritten then.

  render FILE.qmscene|IMAGE.png -o OUT.bmp|OUT.png [--iterations N] [--updates U] ...
      Renders a scene, from its file or from a PNG image that carries one, as the
      program renders it once opened: same mode, size, framing, settings, streams,
      render seed and random states, so the same image. Only --iterations and --updates
      may change it; --threads (the machine's) never changes the image.

  Every PNG written carries its scene in a text chunk "quillmere-scene", with the texts
  "Software" and "Description". --depth 16 writes 16 bits per channel (PNG only),
  developed from the same buffers as the 8-bit image.

  animate FILE.qmattr|FILE.qmscene|IMAGE.png --frames N --turn DEGREES [--axis x|y|z|view]
          -o DIR/frame-%04d.png [render options] [animation options]
  animate A.qmscene B.qmscene [C.qmscene ...] --frames N [--ease linear|smooth]
          -o DIR/frame-%04d.png [render options] [animation options]
      Renders an animation as N PNG frames, each carrying its own scene: "render" of a
      frame's PNG gives the frame again. The name after -o holds the frame number, 0 to
      N-1, as %d, %4d or %04d (%% for a %); its folder is made when missing.
      With one file, a turntable: frame i turns the camera by DEGREES x i / N about the
      axis (x, y or z of the attractor, or view: the image's vertical axis, the default),
      so that the last frame stops one step short of the first and the loop is seamless.
      With two scenes or more (or attractor files), a journey: frame 0 is the first
      scene, frame N-1 the last, the others in between with an equal share of frames
      from one scene to the next. The parameters, the mode's settings, the Light
      family's ranges and the gradients (stop by stop when the stop counts match, else
      resampled) are mixed linearly, the camera's rotation by quaternion interpolation,
      its zoom and the iterations geometrically; --ease smooth slows down at every scene
      (default linear). The scenes must hold the same kind of attractor (and option),
      render mode and image size. The render options are those of render (--mode,
      --size, --iterations, --updates, --seed, --streams, --threads, --render-seed,
      --scale, --rotate, --pan, the mode's settings, the colour maps, --depth, --quiet),
      with the same limits, but --seed is 0 unless given, so that the same command
      renders the same frames; a scene holds its own, all but --iterations and --updates.
    Animation options:
      --exposure fixed|per-frame   fixed (the default): every frame is developed against
          one peak, taken from a pre-pass that renders 5 frames spread along the
          animation (a turntable takes their median, a journey goes from one to the next
          geometrically), so that the brightness does not flicker; per-frame: each frame
          against its own peak, as render does. The peak is part of each frame's scene
          (render of a frame with other --iterations scales it with the points plotted).
      --skip-diverged   a frame whose attractor diverges is left out; without it such
          a frame is written black. Either way it is reported by its number
          (diverged_frames), and without --skip-diverged the exit status is then 1.
      --resume   keeps the frames already written that belong to this animation (same
          scene, settings and exposure) and renders only the others; a frame file of
          anything else stops the command (exit 2). Without --resume existing frames
          are replaced, each written completely or not at all.
      --video OUT.mp4|OUT.webm [--fps F] [--no-frames]   encodes the frames with ffmpeg
          (H.264 or VP9, F frames a second, 1 to 240, default 30), which must be
          installed (exit 2 before anything is rendered otherwise); the frames are kept
          unless --no-frames. Without -o the frames go to a hidden folder beside the
          video and are removed afterwards.
      Prints the animation's kind, frames, size, the exposure, the frames rendered (and
      kept), the diverged frames, the seconds in all and per frame.

  merge PART.qmrender... -o OUT.bmp|OUT.png|- [--format png|bmp] [--state FILE]
      Puts the parts of a render made with render --shard together, in shard order
      whatever the order given, and writes its image (and with --state the whole
      render's state, which resume takes). The parts must share their scene, settings,
      seeds, stream count and K, and be finished; each shard 0 to K-1 given once.
      Otherwise it names what differs or is missing and exits 2. Sums (densities,
      colours) are added in shard order; surfaces and depths take the nearest part.

  points FILE.qmscene|IMAGE.png|FILE.qmattr -o OUT.ply [--count N] [--ascii]
         [--mode M] [--seed S] [--quiet]
      Writes the first N points (1 to 100000000, default 1000000) of the orbit a
      render of the scene plots (after its transient of 1000 iterations, as a
      single orbit) as a PLY point cloud: x, y, z as float and red, green, blue as
      uchar per vertex, binary little-endian, or text with --ascii. Each point has
      the colour it gets in the scene's mode: grey for Gaz and Liquide (the density
      of the cloud at the point's pixel in the scene's view, developed with the
      scene's luminosity and gamma), the speed and angle gradients for Lumière and
      Plasma, white for Solide. An attractor file is framed as "render" frames it,
      in mode M (default Gaz), seeded with S (default: the current time). The file
      is written as a stream, never held whole in memory, and appears only once
      complete. Prints the output, the points, the format, its size in bytes, the
      mode, the seed and the speed. Exit status 1 when the orbit diverges (nothing
      is written).

Options common to all commands:
  --help       prints this text
  --version    prints the tool's name and version
An option's value follows it (--size 800x600) or an equals sign (--size=800x600); each
option may be given once.

Every command prints the seed it used as "seed: S", so that any run can be repeated
with --seed S.

Where a command reads a file (FILE.qmattr, the colour maps), "-" reads standard input.
Only regular files are read: a folder, a device, a pipe or a socket is refused at once,
and so is a file over its size limit (1 MiB for attractor files, 4 MiB for maps).
SIGINT and SIGTERM stop the tool; the file it was writing is not left behind, and the
one it was to replace is kept whole.

Exit status, for every command:
  0    done
  1    the work ended without its result (a search out of budget, a divergence)
  2    bad arguments or unreadable input; nothing is written
  3    an output cannot be written (a file, the folder of finds, standard output)
  4    not enough memory
  130  stopped by SIGINT, 143 stopped by SIGTERM
)";

// Runs the command; the caller checks the output stream.
int dispatch(std::vector<std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return kExitUsage;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        out << kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        out << "quillmere-cli " QM_VERSION "\n";
        return kExitOk;
    }
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            out << kUsage;
            return kExitOk;
        }
    }
    if (command == "info") return runInfo(args, out, err);
    if (command == "search") return runSearch(args, out, err);
    if (command == "render") return runRender(args, out, err);
    if (command == "resume") return runResume(args, out, err);
    if (command == "merge") return runMerge(args, out, err);
    if (command == "gallery") return runGallery(args, out, err);
    if (command == "animate") return runAnimate(args, out, err);
    if (command == "points") return runPoints(args, out, err);
    err << "quillmere-cli: unknown command '" << command << "'; see quillmere-cli --help\n";
    return kExitUsage;
}

}  // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const int status = dispatch(std::vector<std::string>(argv + 1, argv + argc), out, err);
    // Standard output is the result: a pipe closed early or a full disk must not pass as success.
    errno = 0;
    out.flush();
    if (!out) {
        const int error = errno;
        err << "quillmere-cli: cannot write to standard output";
        if (error != 0) err << " (" << std::strerror(error) << ")";
        err << '\n';
        return kExitWriteFailed;
    }
    return status;
}

}  // namespace qm::cli
