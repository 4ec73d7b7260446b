# bash completion for kelvo. kelvo itself says what may come next (`kelvo __complete WORD...`): its commands,
# options, settings and their usual values, and the rooms of the account for --device.

_kelvo()
{
    local candidate
    local -a candidates
    mapfile -t candidates < <(kelvo __complete "${COMP_WORDS[@]:1:COMP_CWORD}" 2>/dev/null)
    COMPREPLY=()
    for candidate in "${candidates[@]}"; do
        # Rooms may hold blanks: each candidate goes in as one word.
        COMPREPLY+=("$(printf '%q' "$candidate")")
    done
}

complete -F _kelvo kelvo
