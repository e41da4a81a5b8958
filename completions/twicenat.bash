# bash completion for twicenat, the command-line agent of the twiceNatAddrOnly table.

_twicenat() {
   local cur prev
   cur=${COMP_WORDS[COMP_CWORD]}
   prev=${COMP_WORDS[COMP_CWORD - 1]}

   local globals="--state --trace --no-wait --timeout --help"

   # The command so far: the words before the cursor that are not options or their values.
   local i word cmd=""
   for ((i = 1; i < COMP_CWORD; i++)); do
      word=${COMP_WORDS[i]}
      case $word in
      --state | --timeout | --capacity | --pipes | --dst | --src | --vrf | --action | --key-id | \
         --rw-id | --prot | --frag | --next-hop | --ecmp-group | --device-id)
         ((i++))
         ;;
      -*) ;;
      *)
         if [[ -z $cmd ]]; then
            cmd=$word
         elif [[ $cmd == chip || $cmd == default ]]; then
            cmd="$cmd $word"
         fi
         ;;
      esac
   done

   # Values of the options that take one.
   case $prev in
   --state)
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
   --action)
      COMPREPLY=($(compgen -W "onMiss hit ecmp" -- "$cur"))
      return
      ;;
   --timeout | --capacity | --pipes | --dst | --src | --vrf | --key-id | --rw-id | --prot | \
      --frag | --next-hop | --ecmp-group | --device-id | --p4rt)
      return
      ;;
   esac

   local entry="--action --key-id --rw-id --prot --frag --next-hop --ecmp-group"
   local opts="" words=""
   case $cmd in
   "")
      words="chip set del default show load diff clear demo serve status stop p4info"
      opts=$globals
      ;;
   chip) words="create destroy show check repair" ;;
   default) words="set reset" ;;
   "chip create") opts="--capacity --pipes --no-vrf --no-bfrt --action-profile" ;;
   "chip destroy" | "chip check" | "chip repair" | "default reset" | demo | stop) ;;
   "chip show") opts="--json" ;;
   serve) opts="--p4rt --device-id" ;;
   p4info) opts="--json --text" ;;
   set) opts="--dst --src --vrf $entry" ;;
   del) opts="--dst --src --vrf" ;;
   "default set") opts=$entry ;;
   show) opts="--dst --src --vrf --action --text --json" ;;
   clear) opts="--yes" ;;
   status) opts="--json" ;;
   load | diff)
      [[ $cmd == load ]] && opts="--atomic --dry-run"
      [[ $cur != -* ]] && COMPREPLY=($(compgen -f -- "$cur"))
      ;;
   *) return ;;
   esac
   [[ -n $cmd ]] && opts="$opts $globals"

   if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "$opts" -- "$cur"))
   elif [[ -n $words ]]; then
      COMPREPLY=($(compgen -W "$words" -- "$cur"))
   fi
}

complete -o filenames -F _twicenat twicenat
