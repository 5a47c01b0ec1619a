#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "app/gallery.h"

namespace {

const char* kUsage =
    "Usage: powderbox [options]\n"
    "\n"
    "  --headless           no window and no sound device (for hosts, bots and tests)\n"
    "  --data DIR           the folder that holds Data (default: next to the program,\n"
    "                       else ../share/powderbox from it)\n"
    "  --log FILE           write a log line per notable event to FILE (- for stderr)\n"
    "  --input-script FILE  replay timed key and mouse events from FILE\n"
    "  --fullscreen         start on the whole desktop, --window in a window (remembered,\n"
    "                       as Alt+Enter is)\n"
    "  --gallery [PAGE]     show every picture, animation and typeface (pages from 1)\n"
    "  --try-map NAME       walk the map Data/Maps/NAME.map alone and blow it up\n"
    "  --bots N             with --try-map: up to 4 wandering players that place barrels;\n"
    "                       with --host: N practice bots join the session (up to 8)\n"
    "  --host               create a session and start a match once enough players joined\n"
    "  --connect ADDRESS    join the session of the host at ADDRESS\n"
    "  --map NAME           with --host: the map (default: the first in Data/Maps)\n"
    "  --rounds N           with --host: rounds of a match (default: the settings')\n"
    "  --start-with K       with --host: players, the host's own included, to start with\n"
    "                       (default 2); a --headless host only watches and counts none\n"
    "  --once               with --host: end after the first match\n"
    "  --name NAME          the player name for this session\n"
    "  --port-base N        ports N (information), N+1 (game), N+2 (positions)\n"
    "  --server-list URL    the server list's web service for this run (host[:port]/path)\n"
    "  --bind ADDRESS       a host binds its ports to this local address only (this run)\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "Environment: POWDERBOX_DATA (data folder), POWDERBOX_LOG (log file),\n"
    "POWDERBOX_SEED (fixed random seed).\n";

}  // namespace

int ParseOptions(int argc, char** argv, Options* options) {
  if (const char* log = getenv("POWDERBOX_LOG")) options->logPath = log;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (!strcmp(arg, "--help") || !strcmp(arg, "-h")) {
      fputs(kUsage, stdout);
      return 0;
    } else if (!strcmp(arg, "--version")) {
      printf("Powderbox %s\n", POWDERBOX_VERSION);
      return 0;
    } else if (!strcmp(arg, "--headless")) {
      options->headless = true;
    } else if (!strcmp(arg, "--fullscreen") || !strcmp(arg, "--window")) {
      options->fullscreen = !strcmp(arg, "--fullscreen") ? 1 : 0;
    } else if (!strcmp(arg, "--log") && hasValue) {
      options->logPath = argv[++i];
    } else if (!strcmp(arg, "--input-script") && hasValue) {
      options->inputScript = argv[++i];
    } else if (!strcmp(arg, "--gallery-pages")) {
      printf("%d\n", GalleryPageCount());
      return 0;
    } else if (!strcmp(arg, "--gallery")) {
      options->galleryPage = 0;
      if (hasValue && argv[i + 1][0] >= '1' && argv[i + 1][0] <= '9') {
        options->galleryPage = atoi(argv[++i]) - 1;
      }
    } else if (!strcmp(arg, "--try-map") && hasValue) {
      options->tryMap = argv[++i];
    } else if (!strcmp(arg, "--bots") && hasValue) {
      options->bots = atoi(argv[++i]);
    } else if (!strcmp(arg, "--host")) {
      options->host = true;
    } else if (!strcmp(arg, "--connect") && hasValue) {
      options->connect = argv[++i];
    } else if (!strcmp(arg, "--map") && hasValue) {
      options->map = argv[++i];
    } else if (!strcmp(arg, "--rounds") && hasValue) {
      options->rounds = atoi(argv[++i]);
    } else if (!strcmp(arg, "--start-with") && hasValue) {
      options->startWith = atoi(argv[++i]);
    } else if (!strcmp(arg, "--once")) {
      options->once = true;
    } else if (!strcmp(arg, "--name") && hasValue) {
      options->name = argv[++i];
    } else if (!strcmp(arg, "--port-base") && hasValue) {
      options->portBase = atoi(argv[++i]);
    } else if (!strcmp(arg, "--server-list") && hasValue) {
      options->serverList = argv[++i];
    } else if (!strcmp(arg, "--bind") && hasValue) {
      options->bind = argv[++i];
    } else if (!strcmp(arg, "--data") && hasValue) {
      options->dataRoot = argv[++i];
    } else {
      fprintf(stderr, "powderbox: unknown or incomplete option '%s'\n\n%s", arg, kUsage);
      return 2;
    }
  }
  if (options->host && !options->connect.empty()) {
    fprintf(stderr, "powderbox: --host and --connect exclude each other\n");
    return 2;
  }
  if (options->portBase < 0 || options->portBase > 65533) {
    fprintf(stderr, "powderbox: --port-base must leave room for three ports below 65536\n");
    return 2;
  }
  return -1;
}

