Dear reader, this file is a letter and not an effect.
It has words, "quotes", {braces} and (parentheses) but no HLSL at all!
