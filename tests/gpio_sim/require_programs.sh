# Sourced by the checks: skips the check (exit 77) when a program it needs
# is missing, or fails it when GPIO_REQUIRE_WAVEFORM_TOOLS=1. The message
# names the Debian packages in $required_packages (the waveform readers',
# unless the check says otherwise).
require_programs() {
  local missing=()
  for program in "$@"; do
    command -v "$program" >/dev/null || missing+=("$program")
  done
  if ((${#missing[@]})); then
    echo "missing: ${missing[*]} (Debian: ${required_packages:-sigrok-cli gtkwave librsvg2-bin})" >&2
    [[ ${GPIO_REQUIRE_WAVEFORM_TOOLS:-0} == 1 ]] && exit 1
    exit 77
  fi
}

# A scratch directory removed when the check ends.
make_scratch() {
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
}
