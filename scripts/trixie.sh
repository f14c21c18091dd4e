# Debian 13 ("trixie") from the machine's own Debian mirror, for what Debian 12 cannot give:
# qemu 10 (scripts/qemu-i386.sh) and Wine 10 (scripts/wine10-root.sh). Sourced by both.
TRIXIE_SUITE=trixie
TRIXIE_KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

# trixie_mirror: the Debian mirror that serves the machine's own release (main), as its apt knows it.
trixie_mirror() {
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
    awk -v release="$codename" '$2 == release && $3 == "main" { print $1; exit }'
}
