# What the test scripts share, sourced by them: failing with a message, and
# an empty work directory of their own in which the simulated receiver's
# settings come from the script alone.

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

enter_empty_work_directory() {  # directory
  case "$1" in /*) ;; *) echo "the work directory must be absolute: $1" >&2; exit 2 ;; esac
  unset HALVORNSIM_JOURNAL HALVORNSIM_MISSING HALVORNSIM_FAIL HALVORNSIM_SOURCE HALVORNSIM_PACING HALVORNSIM_CLOCK_HZ
  rm -rf "$1"
  mkdir -p "$1"
  cd "$1"
}
