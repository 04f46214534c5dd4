[playlist]
NumberOfEntries=2
File1=http://a.example/one
File2=two.mp3
