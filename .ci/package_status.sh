# Sourced by .ci/run and .ci/install_packages.sh.
# package_installed PACKAGE: whether dpkg has it unpacked and configured.
# The status is dpkg's "want error state" (held: "hold ok installed"), one
# line an architecture when the package is installed for more than one: it
# is installed when any of them is.
package_installed() {
  local want flag state
  while read -r want flag state; do
    [[ $flag == ok && $state == installed ]] && return 0
  done < <(dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null)
  return 1
}
