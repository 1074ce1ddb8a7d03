# The kind of awk script people write to turn a BLAST+ text report into
# tabular rows (qseqid sseqid pident length qstart qend sstart send evalue
# bitscore): the yardstick for hsptab's speed in bench/run. It reads only
# current BLAST+ layouts, and only titles and alignments that fit one line.
/^Query= /   { flush(); query = $2 }
/^>/         { flush(); subject = substr($1, 2) }
/^ Score = / { flush(); bits = $3; evalue = $8; sub(/,$/, "", evalue); open = 1 }
/^ Identities = / { split($3, fraction, "/"); identical = fraction[1]; length_ = fraction[2] }
/^Query  /   { if (qstart == "") qstart = $2; qend = $4 }
/^Sbjct  /   { if (sstart == "") sstart = $2; send = $4 }
END          { flush() }
function flush() {
    if (open) printf "%s\t%s\t%.3f\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", query, subject, 100 * identical / length_,
        length_, qstart, qend, sstart, send, evalue, bits
    open = 0; qstart = ""; sstart = ""
}
