# fish completion for kelvo. kelvo itself says what may come next (`kelvo __complete WORD...`): its commands,
# options, settings and their usual values, and the rooms of the account for --device.

function __kelvo_complete
    set -l typed (commandline -opc)
    set -l current (commandline -ct)
    kelvo __complete $typed[2..] "$current" 2>/dev/null
end

complete -c kelvo -f -a '(__kelvo_complete)'
