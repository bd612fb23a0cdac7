# tools/sid-root.sh: the Debian sid root in which talvora is built and run.
# Sourced by ./dev. The host only needs root, debootstrap and the network to
# the Debian mirror its own apt uses (or TALVORA_MIRROR); everything else
# (Python 3.14, compilers, test tools) lives in the root, which is keyed by
# the package list so a changed list makes a fresh root and an unchanged one
# is reused.

: "${TALVORA_ROOT_CACHE:=/var/cache/talvora}"
# The mirror's sid Release file is served past its Valid-Until date.
APT_OPTS=(-o Acquire::Check-Valid-Until=false -o Acquire::Retries=3)

die() {
    printf 'dev: %s\n' "$*" >&2
    exit 1
}

# The Debian mirror the host's apt fetches its own release from, printed (or
# nothing): the first enabled "deb" source, in apt's order (sources.list,
# then sources.list.d/ by name, one-line *.list and deb822 *.sources alike),
# with an http(s) URI, the main component and a suite that is the host's
# codename, stable, testing, unstable or sid. The suite only picks the entry;
# the root is sid whatever the host runs. $1: apt's directory, $2: os-release.
host_mirror() {
    local apt=${1:-/etc/apt} os_release=${2:-/etc/os-release} codename file
    codename=$(sed -n 's/^VERSION_CODENAME=//p' "$os_release" 2>/dev/null | tr -d "\"'")
    {
        [ -f "$apt/sources.list" ] && one_line_sources "$apt/sources.list"
        for file in "$apt"/sources.list.d/*; do
            case $file in
            *.list) one_line_sources "$file" ;;
            *.sources) deb822_sources "$file" ;;
            esac
        done
    } | awk -v codename="$codename" '
        $1 ~ /^https?:\/\// && ($2 == codename || $2 ~ /^(stable|testing|unstable|sid)$/) {
            for (i = 3; i <= NF; i++) if ($i == "main") { print $1; exit }
        }'
}

# "URI SUITE COMPONENT..." for each "deb" line of a one-line sources file.
one_line_sources() {
    awk '/^[ \t]*deb[ \t]/ {
        sub(/^[ \t]*deb[ \t]+/, "")
        sub(/^\[[^]]*\][ \t]*/, "") # [ options ]
        print
    }' "$1"
}

# "URI SUITE COMPONENT..." for each URI and suite of each enabled stanza of
# type deb in a deb822 sources file.
deb822_sources() {
    awk '
        function flush(  i, j, n, m, u, s) {
            if (f["types"] ~ /(^| )deb( |$)/ && tolower(f["enabled"]) != "no") {
                n = split(f["uris"], u, " ")
                m = split(f["suites"], s, " ")
                for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j], f["components"]
            }
            delete f
            key = ""
        }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^[ \t]/ { if (key != "") f[key] = f[key] " " $0; next } # a continuation line
        {
            key = tolower(substr($0, 1, index($0, ":") - 1))
            f[key] = substr($0, index($0, ":") + 1)
            gsub(/^[ \t]+|[ \t]+$/, "", f[key])
        }
        END { flush() }
    ' "$1" | awk '{ $1 = $1; print }' # blanks squeezed
}

# TALVORA_MIRROR, else the host's mirror; dies when neither names one.
debian_mirror() {
    local mirror=${TALVORA_MIRROR:-}
    [ -n "$mirror" ] || mirror=$(host_mirror "$@")
    [ -n "$mirror" ] ||
        die "cannot tell which Debian mirror to fetch sid from: the host's apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d/) name none for its own release with the main component; set TALVORA_MIRROR to the URL of a Debian mirror"
    printf '%s\n' "$mirror"
}

root_packages() {
    sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$TOP/tools/packages.txt"
}

root_dir() {
    local key
    key=$(root_packages | sort | sha256sum | cut -c1-16)
    printf '%s/sid-%s' "$TALVORA_ROOT_CACHE" "$key"
}

require_root_user() {
    [ "$(id -u)" = 0 ] ||
        die "this needs root (debootstrap, unshare --mount and chroot do): run it as root, e.g. 'sudo ./dev $CMD'"
    command -v unshare >/dev/null && command -v chroot >/dev/null ||
        die "unshare or chroot is missing: install util-linux and coreutils"
}

# After require_root_user (provision_root, its only caller, checks first).
require_host_tools() {
    if ! command -v debootstrap >/dev/null; then
        echo "dev: installing debootstrap on the host" >&2
        { apt-get "${APT_OPTS[@]}" update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap; } >&2 ||
            die "debootstrap is missing and apt-get could not install it: check the network to Debian's mirror, or run 'apt-get install debootstrap'"
    fi
}

# Runs "$@" inside root $1 with /proc, /sys, /dev and the checkout bound in a
# private mount namespace, so every mount vanishes with the process. Extra
# binds come as SRC=DST pairs in the array DEV_BINDS (DST is inside the root).
in_root() {
    local root=$1
    shift
    local binds=("$TOP=$TOP" "${DEV_BINDS[@]}")
    unshare --mount --propagation private -- /bin/bash -c '
        set -e
        root=$1 nbinds=$2
        shift 2
        for d in proc sys dev; do mount --rbind "/$d" "$root/$d"; done
        for ((i = 0; i < nbinds; i++)); do
            src=${1%%=*} dst=$root${1#*=}
            shift
            if [ -d "$src" ]; then mkdir -p "$dst"; else mkdir -p "${dst%/*}" && touch "$dst"; fi
            mount --bind "$src" "$dst"
        done
        exec chroot "$root" /usr/bin/env -i \
            HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            "$@"
    ' in-root "$root" "${#binds[@]}" "${binds[@]}" "$@"
}

# Makes the root if it is missing. Built in a temporary directory and renamed
# into place only when complete; a lock keeps two runs from racing.
provision_root() {
    local root
    root=$(root_dir)
    require_root_user
    [ -e "$root/.complete" ] && return 0
    local mirror
    mirror=$(debian_mirror) || exit 1
    require_host_tools
    mkdir -p "$TALVORA_ROOT_CACHE" || die "cannot create $TALVORA_ROOT_CACHE (set TALVORA_ROOT_CACHE to a writable directory)"
    exec 9>"$TALVORA_ROOT_CACHE/.lock"
    flock 9
    if [ -e "$root/.complete" ]; then
        exec 9>&-
        return 0
    fi
    # Leftovers of interrupted runs: nobody else can be building, we hold the lock.
    rm -rf "$TALVORA_ROOT_CACHE"/.building.*
    local tmp start=$SECONDS
    tmp=$(mktemp -d "$TALVORA_ROOT_CACHE/.building.XXXXXX")
    # mktemp makes it 700; as the root's / that would lock every user but
    # root out of the whole filesystem.
    chmod 755 "$tmp"
    echo "dev: provisioning the Debian sid root in $root (once per package list)" >&2
    unshare --mount --propagation private -- \
        debootstrap --variant=minbase sid "$tmp" "$mirror" >"$tmp.log" 2>&1 ||
        die "debootstrap failed (log: $tmp.log): check the network to $mirror (or set TALVORA_MIRROR)"
    cp /etc/resolv.conf "$tmp/etc/resolv.conf" 2>/dev/null || true
    local DEV_BINDS=()
    {
        in_root "$tmp" apt-get "${APT_OPTS[@]}" update -q &&
            in_root "$tmp" env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" \
                install -y -q --no-install-recommends $(root_packages) &&
            in_root "$tmp" apt-get clean
    } >>"$tmp.log" 2>&1 || die "installing the packages of tools/packages.txt failed (log: $tmp.log)"
    touch "$tmp/.complete"
    mv "$tmp" "$root"
    rm -f "$tmp.log"
    echo "dev: root ready in $((SECONDS - start)) s" >&2
    exec 9>&-
}
