# Writes a mixed image for the benchmarks: half text, a quarter random
# bytes, a quarter zeros (a hole), in MiB pieces.
#   python3 bench/mixed_image.py PATH MIB
import os, random, sys
path, mib = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
words = [''.join(rnd.choice('etaoinshrdlucmfwyp') for _ in range(rnd.randint(2, 9)))
         for _ in range(5000)]
chunk = 1 << 20
with open(path, 'wb') as f:
    for i in range(mib):
        part = (i * 4) // mib  # 0, 1: text; 2: random; 3: zeros
        if part < 2:
            line, out = [], []
            n = 0
            while n < chunk:
                s = ' '.join(rnd.choice(words) for _ in range(12)) + '\n'
                out.append(s)
                n += len(s)
            f.write(''.join(out).encode()[:chunk])
        elif part == 2:
            f.write(os.urandom(chunk))
        else:
            f.seek(chunk, 1)
    f.truncate(mib * chunk)
