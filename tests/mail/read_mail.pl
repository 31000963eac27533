#!/usr/bin/perl
# SPDX-License-Identifier: Apache-2.0
# Reads a mail message as MIME-tools (MIME::Parser, MIME::Words) decodes it:
# a second reader, independent of Python's, for the tests of 8-bit texts.
#
# usage: read_mail.pl MESSAGE OUTDIR
#
# Prints, in UTF-8: "subject TEXT", "to TEXT" (the whole To field decoded),
# then per leaf part "part TYPE FILENAME" and, for a text part, "text TEXT"
# with line ends made "\n" as the two characters; the decoded bytes of leaf
# part N go to OUTDIR/N.bin.
use strict;
use warnings;
use Encode qw(decode);
use MIME::Parser;
use MIME::Words qw(decode_mimewords);

binmode STDOUT, ':encoding(UTF-8)';
my ($path, $outdir) = @ARGV;

sub unicode {
    my ($value) = @_;
    my $text = '';
    for my $piece (decode_mimewords($value)) {
        my ($bytes, $charset) = @$piece;
        $text .= defined $charset ? decode($charset, $bytes) : $bytes;
    }
    $text =~ s/\r?\n[ \t]*//g;
    return $text;
}

my $parser = MIME::Parser->new;
$parser->output_to_core(1);
$parser->decode_headers(0);
my $entity = $parser->parse_open($path) or die "cannot parse $path";
my $head = $entity->head;
print 'subject ', unicode($head->get('Subject') // ''), "\n";
print 'to ', unicode($head->get('To') // ''), "\n";
my $n = 0;
for my $part ($entity->parts_DFS) {
    next if $part->parts;
    my $bytes = $part->bodyhandle ? $part->bodyhandle->as_string : '';
    open my $out, '>:raw', "$outdir/$n.bin" or die;
    print $out $bytes;
    close $out;
    # recommended_filename decodes an RFC 2231 name into characters; a name
    # it leaves as bytes may still hold encoded-words.
    my $name = $part->head->recommended_filename;
    $name = !defined $name ? '-' : utf8::is_utf8($name) ? $name : unicode($name);
    print 'part ', $part->mime_type, ' ', $name, "\n";
    if ($part->mime_type =~ m{^text/}) {
        my $text = decode($part->head->mime_attr('content-type.charset') || 'US-ASCII', $bytes);
        $text =~ s/\r\n/\\n/g;
        print "text $text\n";
    }
    $n++;
}
